#!/usr/bin/env python3
"""The terminal backend's event loop in a real terminal (tmux), measured:

- the CPU time of a window left idle for 10 s (about 30 wake-ups a second,
  nothing painted while nothing changes);
- the `time` events of a `rate 10` face in 3 s, alone and while tmux streams
  200 keys a second into the window (30 expected in both: the timers follow
  the clock, not the cycles);
- the time from `send-keys` to the change seen by `capture-pane` (median of
  20 keys).

Usage: gui_loop.py KEZ
"""
import os, shutil, statistics, subprocess, sys, tempfile, time

HERE = os.path.dirname(os.path.abspath(__file__))
HELPERS = os.path.join(HERE, "..", "tests", "gui", "backend-helpers.kez")

IDLE = """
w: win 4x1 [make face! [type: 'base offset: 0x0 size: 4x1 text: "idle"]]
run-window w
"""

TICKS = """
n: 0 start: none
f: make face! [type: 'field offset: 0x0 size: 20x1 text: "" flags: 'focusable rate: 10]
w: win 20x1 [f]
on-event [
\tif event/type = 'time [
\t\tif none? start [start: now/precise]
\t\tn: n + 1
\t\tif 3 <= to-float difference now/precise start [print ["ticks" n - 1] close-window w]
\t]
\tnone
]
run-window w
"""

ECHO = """
f: make face! [type: 'field offset: 0x0 size: 30x1 text: "" flags: 'focusable]
w: win 30x1 [f]
run-window w
"""


class Pane:
    def __init__(self, kez, script):
        self.dir = tempfile.mkdtemp(prefix="kez-bench-")
        self.socket = os.path.join(self.dir, "tmux")
        shutil.copy(HELPERS, os.path.join(self.dir, "gui.kez"))
        with open(os.path.join(self.dir, "t.kez"), "w") as f:
            f.write("Kez []\ndo %gui.kez\n" + script)
        inner = 'echo $$ > pid; exec "$0" t.kez'
        self.tmux("new-session", "-d", "-s", "t", "-x", "80", "-y", "24",
                  f"export TERM=xterm-256color; unset COLORTERM; cd '{self.dir}' && "
                  f"sh -c '{inner}' '{kez}' 2>/dev/null; exec sleep 600")
        while not os.path.exists(os.path.join(self.dir, "pid")):
            time.sleep(0.01)
        time.sleep(0.5)
        with open(os.path.join(self.dir, "pid")) as f:
            self.pid = int(f.read())

    def tmux(self, *args):
        return subprocess.run(["tmux", "-S", self.socket, "-f", "/dev/null", *args],
                              capture_output=True, text=True).stdout

    def screen(self):
        return self.tmux("capture-pane", "-p", "-t", "t")

    def cpu(self):
        with open(f"/proc/{self.pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def wait_for(self, text, limit=20):
        end = time.time() + limit
        while text not in self.screen():
            if time.time() > end:
                raise SystemExit(f"waiting for {text!r}:\n{self.screen()}")
            time.sleep(0.005)

    def close(self):
        self.tmux("kill-server")
        shutil.rmtree(self.dir, ignore_errors=True)


def main():
    kez = os.path.abspath(sys.argv[1])
    p = Pane(kez, IDLE)
    p.wait_for("idle")
    before, t = p.cpu(), time.time()
    time.sleep(10)
    used = p.cpu() - before
    print(f"  idle window: {100 * used / (time.time() - t):.2f}% CPU over 10 s")
    p.close()

    for streaming in (False, True):
        p = Pane(kez, TICKS)
        end = time.time() + 5
        while "ticks" not in p.screen() and time.time() < end + 10:
            if streaming:
                p.tmux("send-keys", "-t", "t", "-l", "abcdefghij")  # 10 keys every 50 ms
                time.sleep(0.05)
            else:
                time.sleep(0.05)
        line = [l for l in p.screen().split("\n") if l.startswith("ticks")]
        what = "while 200 keys a second stream in" if streaming else "alone"
        print(f"  rate 10, 3 s, {what}: {line[0] if line else 'no answer'}")
        p.close()

    p = Pane(kez, ECHO)
    times = []
    for i in range(20):
        c = "abcdefghijklmnopqrst"[i]
        start = time.time()
        p.tmux("send-keys", "-t", "t", "-l", c)
        p.wait_for("abcdefghijklmnopqrst"[: i + 1])
        times.append(time.time() - start)
    print(f"  send-keys to screen: median {1000 * statistics.median(times):.0f} ms")
    p.close()


main()
