#!/usr/bin/env python3
"""Terminal tests of the console's line editor (and of what the GUI layer reads
from the terminal at start-up).

Each case starts `kez` in a detached tmux session of fixed size (a private
tmux server, a temporary HOME), types with send-keys and reads the screen
with capture-pane, polling until the expected screen appears rather than
sleeping fixed times. The session's shell records `stty -g` before and after
kez and its exit status, so that every way out can be checked for a
restored terminal.

Usage: run-tty.py KEZ [FILTER]
"""
import os, shutil, subprocess, sys, tempfile, time

TIMEOUT = 10.0
CASES = []


def case(fn=None, **session_options):
    """Registers a case; its options go to the Session it runs in."""
    def register(fn):
        CASES.append((fn, session_options))
        return fn
    return register(fn) if fn else register


class Failure(Exception):
    pass


class Session:
    def __init__(self, kez, width=40, height=12, home=None, shell=""):
        self.kez = kez
        self.dir = tempfile.mkdtemp(prefix="kez-tty-")
        self.socket = os.path.join(self.dir, "tmux")
        inner = 'echo $$ > pid; exec "$0"'
        script = (f"{shell}cd '{self.dir}' && stty -g > before; sh -c '{inner}' '{kez}'; "
                  "echo $? > status; stty -g > after.new; mv after.new after; exec sleep 600")
        self.tmux("new-session", "-d", "-s", "t", "-x", str(width), "-y", str(height),
                  "-e", f"HOME={home or self.dir}", script)
        try:
            self.wait(lambda s: ">>" in s, "the first prompt")
        except Failure:
            self.close()
            raise

    def tmux(self, *args):
        r = subprocess.run(["tmux", "-S", self.socket, "-f", "/dev/null", *args],
                           capture_output=True, text=True)
        return r.stdout

    def type(self, text):
        self.tmux("send-keys", "-t", "t", "-l", text)

    def keys(self, *names):
        self.tmux("send-keys", "-t", "t", *names)

    def paste(self, text):
        """Pastes text as a terminal does: in one burst, line feeds sent as
        carriage returns, bracketed when kez asked for it."""
        self.tmux("set-buffer", "-b", "p", text)
        self.tmux("paste-buffer", "-p", "-d", "-b", "p", "-t", "t")

    def lines(self):
        return self.tmux("capture-pane", "-p", "-t", "t").rstrip("\n").split("\n")

    def screen(self):
        return "\n".join(self.lines())

    def cursor(self):
        x, y = self.tmux("display", "-p", "-t", "t", "#{cursor_x} #{cursor_y}").split()
        return int(x), int(y)

    def file(self, name):
        try:
            with open(os.path.join(self.dir, name)) as f:
                return f.read().strip()
        except OSError:
            return None

    def wait(self, test, what):
        end = time.time() + TIMEOUT
        while True:
            screen = self.screen()
            if test(screen):
                return screen
            if time.time() > end:
                raise Failure(f"waiting for {what}; the screen:\n{screen}")
            time.sleep(0.02)

    def wait_line(self, line):
        return self.wait(lambda s: line in s.split("\n"), repr(line))

    def wait_last(self, line):
        def test(s):
            rows = [r for r in s.split("\n") if r.strip()]
            return rows and rows[-1] == line
        return self.wait(test, f"last line {line!r}")

    def wait_cursor(self, pos):
        end = time.time() + TIMEOUT
        while self.cursor() != pos:
            if time.time() > end:
                raise Failure(f"cursor at {self.cursor()}, expected {pos}:\n{self.screen()}")
            time.sleep(0.02)

    def row_of(self, prefix):
        rows = [i for i, r in enumerate(self.lines()) if r.startswith(prefix)]
        if not rows:
            raise Failure(f"no row starts with {prefix!r}:\n{self.screen()}")
        return rows[-1]

    def wait_exit(self):
        end = time.time() + TIMEOUT
        # The file appears whole (written aside, then renamed), empty when
        # the terminal is gone.
        while self.file("after") is None:
            if time.time() > end:
                raise Failure(f"kez did not end:\n{self.screen()}")
            time.sleep(0.02)
        return int(self.file("status"))

    def close(self):
        pid = self.file("pid")
        self.tmux("kill-server")
        # kez may still write its configuration on the way out.
        end = time.time() + TIMEOUT
        while pid and time.time() < end:
            try:
                os.kill(int(pid), 0)
            except ProcessLookupError:
                break
            time.sleep(0.02)
        shutil.rmtree(self.dir, ignore_errors=True)


def check(cond, message):
    if not cond:
        raise Failure(message)


@case
def evaluates_a_line(s):
    s.type("1 + 2")
    s.keys("Enter")
    screen = s.wait_last(">>")
    check(">> 1 + 2\n== 3\n>>" in screen, screen)
    check(s.tmux("display", "-p", "-t", "t", "#{pane_title}").strip() == "Kez Console",
          "window title")


@case
def history_and_editing_keys(s):
    for line in ["x: 1", "x: 1", "length? system/console/history"]:
        s.type(line)
        s.keys("Enter")
    s.wait_line("== 2")  # the repeated line was stored once
    s.keys("Up")
    s.wait_last(">> length? system/console/history")
    s.keys("Up")
    s.wait_last(">> x: 1")
    s.keys("Up")
    s.wait_last(">>")  # past the oldest entry
    s.type("12345")
    s.keys("BSpace", "BSpace")
    s.wait_last(">> 123")
    s.keys("Left", "Left", "DC")
    s.wait_last(">> 13")
    s.keys("Home")
    s.type("9")
    s.keys("End")
    s.type("0")
    s.wait_last(">> 9130")
    s.keys("Enter")
    s.wait_line("== 9130")
    # Without completion a tab is a character, shown as four blanks.
    s.type('length? "a')
    s.keys("Tab")
    s.type('b"')
    s.wait_last('>> length? "a    b"')
    s.keys("Enter")
    s.wait_line("== 3")


@case
def long_lines_wrap_and_follow_a_resize(s):
    s.type('print "' + "a" * 50 + '"')  # 61 cells after the prompt's 3
    s.wait(lambda sc: sc.rstrip().endswith("a" * 20 + '"'), "the wrapped line")
    row = s.row_of(">> print")
    check(len(s.lines()[row]) == 40, s.screen())
    s.wait_cursor((21, row + 1))
    s.keys("Home")
    s.wait_cursor((3, row))
    s.keys("End")
    s.wait_cursor((21, row + 1))
    s.tmux("resize-window", "-t", "t", "-x", "30")
    s.wait(lambda sc: len(s.lines()[0]) <= 30, "the resize")
    s.keys("Home")
    row = s.row_of(">> print")
    s.wait_cursor((3, row))
    s.keys("End")
    s.wait_cursor((1, row + 2))
    s.keys("Left", "Left")
    s.type("X")
    s.keys("Enter")
    s.wait_line(("a" * 49 + "X" + "a")[30:])


@case
def wide_characters_wrap_at_the_right_column(s):
    s.type('"a' + "你" * 18)
    # ">> " and '"a' take 5 cells; 17 wide characters fill 34 more, and the
    # 18th goes whole to the next row, leaving the last cell blank.
    s.wait(lambda sc: '>> "a' + "你" * 17 in sc.split("\n"), "the first row")
    row = s.row_of('>> "a')
    check(s.lines()[row + 1] == "你", s.screen())
    s.wait_cursor((2, row + 1))
    s.keys("Home")
    s.wait_cursor((3, row))
    s.keys("End", "Left")
    s.wait_cursor((0, row + 1))
    s.keys("Left")
    s.wait_cursor((37, row))


@case(width=60)
def tab_completes_words_and_lists_candidates(s):
    s.type("zzfoo1: 1 zzfoo2: 2")
    s.keys("Enter")
    s.wait_line("== 2")
    s.type("zzf")
    s.keys("Tab")
    # The candidates stand after the prompt; the next edit holds their
    # common prefix with the cursor at its end.
    screen = s.wait_last(">> zzfoo")
    check(">> zzfoo1 zzfoo2\n>> zzfoo" in screen, screen)
    s.wait_cursor((8, s.row_of(">> zzfoo")))
    s.type("1")
    s.keys("Enter")
    s.wait_line("== 1")
    # Inside an open string the list adds no line break of its own.
    s.type("s: {")
    s.keys("Enter")
    s.wait_last("{")
    s.type("zzf")
    s.keys("Tab")
    s.wait_last("{    zzfoo")
    s.type("}")
    s.keys("Enter")
    s.type("length? s")
    s.keys("Enter")
    s.wait_line("== 6")


@case(width=60)
def tab_with_one_candidate_rewrites_the_line(s):
    s.type("system/optio")
    s.keys("Tab")
    s.wait_last(">> system/options")
    s.keys("Home", "C-k")
    # With the cursor inside the line the rest stays behind the completion.
    s.type("print sys 1")
    s.keys("Left", "Left")
    s.keys("Tab")
    s.wait_last(">> print system 1")
    row = s.row_of(">> print system 1")
    s.wait_cursor((15, row))
    s.keys("Home", "C-k")
    # Nothing to complete: the tab goes in as four blanks.
    s.keys("Tab")
    s.type("1")
    s.wait_last(">>     1")
    s.keys("Enter")
    s.wait_line("== 1")


@case
def continuation_prompt_and_escape(s):
    s.type("[")
    s.keys("Enter")
    s.wait_last("[")
    s.type("1 2")
    s.wait_last("[    1 2")
    s.keys("Escape")
    screen = s.wait_last(">>")
    check("[    1 2\n(escape)\n>>" in screen, screen)
    s.type("3")
    s.keys("Enter")
    s.wait_line("== 3")


@case
def hidden_input_stays_out_of_the_history(s):
    s.type('ask/hide "Password: "')
    s.keys("Enter")
    s.wait_last("Password:")
    s.type("secret")
    s.wait_last("Password: ******")
    s.keys("Enter")
    s.wait_line('== "secret"')
    s.keys("Up")
    s.wait_last('>> ask/hide "Password: "')


@case
def ctrl_d_on_an_empty_line_quits(s):
    s.keys("C-d")
    check(s.wait_exit() == 0, "exit status")
    check(s.file("before") == s.file("after"), "terminal modes")


@case
def ctrl_c_quits(s):
    s.type("1 + ")
    s.wait_last(">> 1 +")  # the editor holds the line: C-c reaches it as a key
    s.keys("C-c")
    check(s.wait_exit() == 0, "exit status")
    check(s.file("before") == s.file("after"), "terminal modes")


@case
def terminal_restored_after_sigterm(s):
    s.type("abc")
    s.wait_last(">> abc")
    os.kill(int(s.file("pid")), 15)
    s.wait_exit()
    check(s.file("before") == s.file("after"), "terminal modes")


@case
def history_kept_from_one_run_to_the_next(s):
    s.type("1 + 2")
    s.keys("Enter")
    s.wait_line("== 3")
    s.type("q")
    s.keys("Enter")
    check(s.wait_exit() == 0, "exit status")
    again = Session(s.kez, home=s.dir)
    try:
        again.keys("Up")
        again.wait_last(">> q")
        again.keys("Up")
        again.wait_last(">> 1 + 2")
    finally:
        again.close()


@case(shell="trap '' HUP; ")
def a_lost_terminal_ends_the_edit_as_q(s):
    # With hang-ups ignored (nohup), the failing reads end the edit as "q".
    s.type("1 +")
    s.wait_last(">> 1 +")
    s.tmux("kill-pane", "-t", "t")
    check(s.wait_exit() == 0, "exit status")


@case
def raw_mode_again_after_a_stop(s):
    pid = int(s.file("pid"))
    os.kill(pid, 19)  # SIGSTOP
    os.kill(pid, 18)  # SIGCONT
    s.type("1 + 2")
    s.keys("Enter")
    screen = s.wait_last(">>")
    check(">> 1 + 2\n== 3\n>>" in screen, screen)


@case(width=60, height=30)
def debugger_lines_leave_the_history(s):
    s.type("debug [x: 3]")
    s.keys("Enter")
    s.wait_last("debug>")
    s.type("w x")
    s.keys("Enter")
    s.wait_last("debug>")
    s.keys("Enter")  # the next stop shows the watched word
    s.wait_line("Watch: x: unset")
    s.wait_last("debug>")
    s.type("c")
    s.keys("Enter")
    s.wait_last(">>")
    s.type("x")
    s.keys("Enter")
    s.wait_line("== 3")
    s.keys("Up")
    s.wait_last(">> x")
    s.keys("Up")
    s.wait_last(">> debug [x: 3]")
    s.keys("Up")
    s.wait_last(">>")  # the lines typed at debug> are gone


@case(width=60, height=30)
def debugger_lines_leave_the_history_after_an_error_too(s):
    s.type("debug [1 / 0]")
    s.keys("Enter")
    s.wait_last("debug>")
    s.type("c")
    s.keys("Enter")
    s.wait_last("debug>")  # the error stops
    s.type("n")
    s.keys("Enter")
    s.wait_line("*** Math Error: attempt to divide by zero")
    s.wait_last(">>")
    s.type("1 + 1")
    s.keys("Enter")
    s.wait_line("== 2")
    s.keys("Up")
    s.wait_last(">> 1 + 1")
    s.keys("Up")
    s.wait_last(">> debug [1 / 0]")
    s.keys("Up")
    s.wait_last(">>")  # the lines typed at debug> are gone


@case(width=120, height=40)
def a_pasted_burst_of_long_lines_runs_every_line_in_order(s):
    s.type("b: copy []")
    s.keys("Enter")
    s.wait_line("== []")
    lines = []
    for i in range(1, 21):
        head = 'append b "%02d' % i
        lines.append(head + "x" * (199 - len(head)) + '"')
    check(all(len(line) == 200 for line in lines), "200 characters a line")
    s.paste("\n".join(lines) + "\n")
    s.type('r: copy "" foreach x b [append r copy/part x 2] print [r length? b length? rejoin b]')
    s.keys("Enter")
    s.wait_line("".join("%02d" % i for i in range(1, 21)) + " 20 " + str(20 * 189))


@case
def a_pasted_function_runs_as_typed(s):
    s.paste("f: func [x][\n    y: x * 2\n\ty + 1\n]\nf 20\n")
    s.wait_line("== 41")
    # The paste ended its lines as Enter does, so they are in the history.
    s.keys("Up")
    s.wait_last(">> f 20")


@case(width=80, height=24)
def typing_ahead_during_an_evaluation_loses_nothing(s):
    s.type("wait 1")
    s.keys("Enter")
    s.type('length? "' + "x" * 490 + '"')
    s.keys("Enter")
    s.wait_line("== 490")


@case
def ctrl_c_with_pending_lines_quits_without_running_them(s):
    s.type("blk: [")
    s.keys("Enter")
    s.wait_last("[")
    s.type("1 2")
    s.keys("Enter")
    s.wait_last("[")
    s.keys("C-c")
    check(s.wait_exit() == 0, "exit status")
    check(s.file("before") == s.file("after"), "terminal modes")
    check("q" not in s.screen().split(">> blk: [")[-1], s.screen())


@case(home="/proc/1", width=100)
def without_a_writable_home_the_console_says_history_is_not_kept(s):
    s.wait_line("Note: history will not be kept: /proc/1/.kez/Kez-Console/ cannot be written")
    s.keys("C-d")  # quitting, which saves nothing, still ends well
    check(s.wait_exit() == 0, "exit status")


@case(width=70, height=20)
def the_screen_face_takes_the_terminal_size(s):
    s.type("print system/view/screens/1/size")
    s.keys("Enter")
    s.wait(lambda screen: "\n70x20\n>>" in screen, "the size, then the prompt")


def run_cases(cases, start):
    """Runs each case (fn, arguments of start) whose name holds the filter
    given on the command line, in a session made by start(kez, *arguments)."""
    kez = os.path.abspath(sys.argv[1])
    pattern = sys.argv[2] if len(sys.argv) > 2 else ""
    if not shutil.which("tmux"):
        print("tmux is not installed")
        sys.exit(1)
    passed = failed = 0
    for fn, arguments in cases:
        if pattern not in fn.__name__:
            continue
        s = None
        try:
            s = start(kez, *arguments)
            fn(s)
            passed += 1
        except Failure as e:
            failed += 1
            print(f"FAIL {fn.__name__}: {e}")
        finally:
            if s:
                s.close()
    print(f"{passed} passed, {failed} failed")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    run_cases([(fn, (options,)) for fn, options in CASES],
              lambda kez, options: Session(kez, **options))
