#!/usr/bin/env python3
"""Tests of `kez` as a process among others: exit statuses under signals,
closed pipes and failing output, what goes to which stream, the environment
it starts in, and what it leaves in a terminal. These need signals, pipes,
limits or a pseudo-terminal, which the script tests cannot set up.

A status is checked as a shell reports it: 128 + N for a process that a
signal N ended.

Usage: run-process.py KEZ [FILTER]
"""
import os, pty, resource, select, shutil, signal, subprocess, sys, tempfile, time

CASES = []
TIMEOUT = 20


def case(fn):
    CASES.append(fn)
    return fn


class Failure(Exception):
    pass


def check(cond, message):
    if not cond:
        raise Failure(message)


def default_interrupt():
    """A test runner started in the background inherits an ignored SIGINT,
    which kez keeps ignored as a background job should: undo it."""
    signal.signal(signal.SIGINT, signal.SIG_DFL)


def shell_status(returncode):
    return 128 - returncode if returncode < 0 else returncode


class Run:
    """A fresh directory with the given scripts, and kez started in it."""

    def __init__(self, kez, scripts):
        self.kez = kez
        self.dir = tempfile.mkdtemp(prefix="kez-proc-")
        for name, body in scripts.items():
            with open(os.path.join(self.dir, name), "w") as f:
                f.write("Kez []\n" + body + "\n")

    def env(self, **changes):
        env = dict(os.environ, HOME=self.dir)
        for k, v in changes.items():
            if v is None:
                env.pop(k, None)
            else:
                env[k] = v
        return env

    def start(self, *args, env=None, **options):
        return subprocess.Popen([self.kez, *args], cwd=self.dir, env=env or self.env(),
                                preexec_fn=default_interrupt, **options)

    def run(self, *args, env=None, stdin=b"", **options):
        options.setdefault("stdout", subprocess.PIPE)
        p = subprocess.run([self.kez, *args], cwd=self.dir, env=env or self.env(),
                           input=stdin, stderr=subprocess.PIPE, timeout=TIMEOUT, **options)
        out = p.stdout.decode() if p.stdout is not None else ""
        return shell_status(p.returncode), out, p.stderr.decode()

    def close(self):
        shutil.rmtree(self.dir, ignore_errors=True)


def wait_for_output(p, text):
    """Reads p's standard output until `text` has appeared."""
    seen = b""
    end = time.time() + TIMEOUT
    while text.encode() not in seen:
        check(time.time() < end, f"waiting for {text!r}, got {seen!r}")
        ready, _, _ = select.select([p.stdout], [], [], 0.1)
        if ready:
            chunk = os.read(p.stdout.fileno(), 4096)
            check(chunk, f"output ended before {text!r}: {seen!r}")
            seen += chunk


@case
def interrupted_script_ends_with_130(r):
    p = r.start("loop.kez", stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
    wait_for_output(p, "running")
    p.send_signal(signal.SIGINT)
    check(shell_status(p.wait(TIMEOUT)) == 130, f"status {p.returncode}")


@case
def a_closed_pipe_ends_an_endless_printer_with_141(r):
    p = r.start("yes.kez", stdout=subprocess.PIPE, stdin=subprocess.DEVNULL,
                stderr=subprocess.PIPE)
    p.stdout.readline()
    p.stdout.close()  # as `head -1` does
    try:
        status = shell_status(p.wait(1))
    except subprocess.TimeoutExpired:
        p.kill()
        raise Failure("still running a second after its reader left")
    check(status == 141, f"status {status}")
    check(p.stderr.read() == b"", "quietly")


@case
def a_full_device_gives_one_report_and_status_1(r):
    with open("/dev/full", "wb") as full:
        status, _, err = r.run("yes.kez", stdout=full)
    check(status == 1, f"status {status}")
    check(err == "*** Access Error: cannot write to standard output: No space left on device\n",
          repr(err))


@case
def reports_go_to_standard_error_and_results_stay(r):
    status, out, err = r.run("fails.kez")
    check(status == 1, f"status {status}")
    check(out == "before\n", repr(out))
    check(err.startswith("*** Math Error: attempt to divide by zero\n*** Where: /"), repr(err))
    # At the console: results and print on one stream, reports on the other.
    status, out, err = r.run(stdin=b"1 + 1\nprint 3\n1 / 0\nprint 4\nq\n")
    check(status == 0, f"status {status}")
    check(out.endswith("== 2\n3\n4\n"), repr(out))
    check(err.startswith("*** Math Error") and err.endswith("\n\n"), repr(err))
    check("\x1b" not in out, "no terminal sequences when the output is not a terminal")


@case
def quit_statuses_keep_failure(r):
    for given, expected in [(0, 0), (3, 3), (255, 255), (256, 1), (512, 1), (257, 1), (-2, 254)]:
        status, _, _ = r.run(stdin=f"quit/return {given}\n".encode())
        check(status == expected, f"quit/return {given}: status {status}")


@case
def without_a_home_folder_a_script_prints_only_its_own_output(r):
    for home in [None, "", "/proc/1"]:
        status, out, err = r.run("hello.kez", env=r.env(HOME=home))
        check((status, out, err) == (0, "hello\n", ""), f"HOME={home!r}: {(status, out, err)}")


@case
def deep_recursion_on_the_main_thread_is_an_error(r):
    # Without room for the evaluator's own thread, kez runs on the main
    # thread, whose stack the depth guard must then watch.
    if r.sanitized:
        return
    def limits():
        resource.setrlimit(resource.RLIMIT_AS, (400 << 20, 400 << 20))
        resource.setrlimit(resource.RLIMIT_STACK, (1 << 20, 1 << 20))
    status, out, err = r.run("deep.kez", preexec_fn=limits)
    check((status, out) == (0, "stack-overflow\n"), f"{(status, out, err)}")


@case
def long_redirected_lines_are_read_whole(r):
    line = "ab\u00e9" * 400000 + "\n"
    status, out, err = r.run("lines.kez", stdin=(line * 3).encode())
    check((status, out) == (0, "1200000\n1200000\n1200000\nnone\n"), f"{(status, out[:200], err)}")


def pty_session(r, script_args, actions):
    """Runs kez on a pseudo-terminal; `actions(write, read_until)` drives it.
    Returns every byte kez wrote and its status."""
    pid, fd = pty.fork()
    if pid == 0:
        default_interrupt()
        os.chdir(r.dir)
        os.execve(r.kez, [r.kez, *script_args], r.env(TERM="xterm"))
    seen = bytearray()

    def pump(timeout):
        ready, _, _ = select.select([fd], [], [], timeout)
        if not ready:
            return False
        try:
            chunk = os.read(fd, 65536)
        except OSError:
            return None
        if not chunk:
            return None
        seen.extend(chunk)
        # Answer cursor position requests as a terminal would.
        if b"\x1b[6n" in chunk:
            os.write(fd, b"\x1b[1;1R")
        return True

    def read_until(text):
        end = time.time() + TIMEOUT
        while text not in seen:
            check(time.time() < end, f"waiting for {text!r}, got {bytes(seen)!r}")
            if pump(0.1) is None:
                raise Failure(f"ended before {text!r}: {bytes(seen)!r}")

    try:
        actions(lambda b: os.write(fd, b), read_until, pid)
        end = time.time() + TIMEOUT
        while time.time() < end:
            done, status = os.waitpid(pid, os.WNOHANG)
            if done:
                break
            pump(0.05)
        else:
            os.kill(pid, signal.SIGKILL)
            raise Failure(f"kez did not end: {bytes(seen)!r}")
        while pump(0.05):
            pass
    finally:
        os.close(fd)
    code = os.waitstatus_to_exitcode(status)
    return bytes(seen), shell_status(code)


def check_terminal_left_clean(seen):
    check(seen.startswith(b"\x1b[22;0t\x1b]0;Kez Console\x07"),
          f"the old title saved, then the new one set: {seen[:40]!r}")
    check(seen.rstrip(b"\r\n").endswith(b"\x1b[23;0t"), f"the old title back last: {seen[-40:]!r}")
    check(seen.rfind(b"\x1b[?2004l") > seen.rfind(b"\x1b[?2004h"),
          f"bracketed paste off again: {seen[-80:]!r}")


@case
def terminal_title_and_paste_mode_restored_on_every_way_out(r):
    def quit_at_prompt(write, read_until, pid):
        read_until(b">> ")
        write(b"q\r")
    seen, status = pty_session(r, [], quit_at_prompt)
    check(status == 0, f"status {status}")
    check_terminal_left_clean(seen)

    def interrupt_evaluation(write, read_until, pid):
        read_until(b">> ")
        write(b"forever [wait 0.01]\r")
        read_until(b"\x1b[?2004l")  # the edit is over
        time.sleep(0.3)
        write(b"\x03")  # Ctrl-C reaches the evaluation as SIGINT
    seen, status = pty_session(r, [], interrupt_evaluation)
    check(status == 130, f"status {status}")
    check_terminal_left_clean(seen)

    def terminate_at_prompt(write, read_until, pid):
        read_until(b">> ")
        os.kill(pid, signal.SIGTERM)
    seen, status = pty_session(r, [], terminate_at_prompt)
    check(status == 128 + signal.SIGTERM, f"status {status}")
    check_terminal_left_clean(seen)


@case
def an_unreadable_script_at_a_terminal_falls_back_to_the_console(r):
    def quit_at_prompt(write, read_until, pid):
        read_until(b">> ")
        write(b"q\r")
    seen, status = pty_session(r, ["missing.kez"], quit_at_prompt)
    check(status == 0, f"status {status}")
    check(b"*** Access Error: cannot open: %missing.kez" in seen and b"--== Kez" in seen,
          repr(seen))


SCRIPTS = {
    "loop.kez": 'print "running"\nforever []',
    "yes.kez": 'forever [print "y"]',
    "fails.kez": 'print "before"\n1 / 0\nprint "after"',
    "hello.kez": 'print "hello"\nq',
    "deep.kez": "f: func [n][do [f n + 1]]\nprint get in try [f 1] 'id",
    "lines.kez": "while [line: input][print length? line]\nprint mold input",
}


def main():
    kez = os.path.abspath(sys.argv[1])
    pattern = sys.argv[2] if len(sys.argv) > 2 else ""
    with open(kez, "rb") as f:
        sanitized = b"__asan_init" in f.read()
    passed = failed = 0
    for fn in CASES:
        if pattern not in fn.__name__:
            continue
        r = Run(kez, SCRIPTS)
        r.sanitized = sanitized
        try:
            fn(r)
            passed += 1
        except (Failure, subprocess.TimeoutExpired) as e:
            failed += 1
            print(f"FAIL {fn.__name__}: {e}")
        finally:
            r.close()
    print(f"{passed} passed, {failed} failed")
    sys.exit(1 if failed else 0)


main()
