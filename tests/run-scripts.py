#!/usr/bin/env python3
"""Script-test runner: feeds Kez input to the real `kez` binary and compares
its exact output and exit status with the text stored beside the input.

A test file (tests/scripts/**/*.txt) holds cases:

    === name of the case
    %% option ...            (optional lines, see below)
    kez input, fed on standard input
    ---
    expected output

Options:
    %% script [ARGS...]    write the input to a file `test.kez` in a fresh
                           directory and run `kez test.kez ARGS...` there
    %% args ARGS...        run `kez ARGS...` (split as a shell splits them)
                           with the input on standard input
    %% file NAME           write the following lines up to `%% end` into NAME
                           in the case's directory (fixtures); one whose first
                           line begins with "#!" is made executable (stub
                           programs)
    %% copy PATH           copy tests/PATH into the case's directory (shared
                           test code, such as gui/recording-platform.kez)
    %% status N            expected exit status (default 0)
    %% env NAME=VALUE      set an environment variable (HOME is the case's
                           directory unless set so)
    %% stress N            under KEZ_GC_STRESS, collect at most every N
                           allocations (heavy loops)
    %% no-stress           not run under KEZ_GC_STRESS (for checks that only
                           make sense without it, such as memory bounds)
    %% server NAME KIND    start a local HTTP server on 127.0.0.1 for the case
                           and write its port wherever $NAME stands in the
                           input and the expected output: KIND `files` serves
                           the case's directory (python3 -m http.server),
                           `echo` is tests/http-echo.py, `echo-tls` the same
                           over HTTPS with a self-signed certificate made by
                           the openssl tool. The case waits until the server
                           answers and stops it at the end.

Every case runs without the proxy variables, so that no request can leave
the machine.

The expected output is standard output and standard error as written, in one
stream. Trailing line ends of both outputs are ignored; everything else is
exact.
Input fed on standard input meets the console, which greets with its banner:
the banner is left out of the comparison unless the expected output begins
with it.
Usage: run-scripts.py KEZ [FILTER]
"""
import concurrent.futures, difflib, os, re, shlex, shutil, socket, subprocess, sys, tempfile, time

TIMEOUT = 120
BANNER = re.compile(r"\A--== Kez .*\n.*Type HELP for starting information\..*(\n\n?|\Z)")


class Case:
    def __init__(self, path, line, name):
        self.path, self.line, self.name = path, line, name
        self.input, self.expected = [], []
        self.args, self.script, self.status = [], False, 0
        self.command = None
        self.env, self.files, self.stress = {}, {}, True
        self.copies = []
        self.stress_floor = 0
        self.servers = []
        self.ports = {}


def parse(path):
    cases, case, part, fixture = [], None, None, None
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    for n, line in enumerate(lines, 1):
        if fixture is not None:
            if line == "%% end":
                fixture = None
            else:
                case.files[fixture].append(line)
            continue
        if line.startswith("=== "):
            case = Case(path, n, line[4:].strip())
            cases.append(case)
            part = "input"
            continue
        if case is None:
            continue  # file preamble: comments
        if part == "input" and line.startswith("%% "):
            words = line[3:].split()
            opt, rest = words[0], words[1:]
            if opt == "script":
                case.script, case.args = True, rest
            elif opt == "args":
                case.command = shlex.split(line[3:])[1:]
            elif opt == "status":
                case.status = int(rest[0])
            elif opt == "env":
                k, _, v = line[3:].split(None, 1)[1].partition("=")
                case.env[k] = v
            elif opt == "file":
                fixture = rest[0]
                case.files[fixture] = []
            elif opt == "copy":
                case.copies.append(rest[0])
            elif opt == "no-stress":
                case.stress = False
            elif opt == "stress":
                case.stress_floor = int(rest[0])
            elif opt == "server":
                case.servers.append((rest[0], rest[1]))
            else:
                raise SystemExit(f"{path}:{n}: unknown option {opt}")
            continue
        if part == "input" and (line == "---" or line.startswith("--- ")):
            part = "output"
            continue
        (case.input if part == "input" else case.expected).append(line)
    return cases


TESTS = os.path.dirname(os.path.abspath(__file__))
PROXY_VARIABLES = ("http_proxy", "https_proxy", "ftp_proxy", "all_proxy", "no_proxy")


def start_server(kind, work):
    """Starts a server of the kind; returns the process and its port once it
    answers."""
    if kind == "files":
        cmd = [sys.executable, "-u", "-m", "http.server", "--bind", "127.0.0.1",
               "--directory", work, "0"]
    elif kind in ("echo", "echo-tls"):
        cmd = [sys.executable, "-u", os.path.join(TESTS, "http-echo.py")]
        if kind == "echo-tls":
            cert, key = os.path.join(work, "cert.pem"), os.path.join(work, "key.pem")
            subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                            "-keyout", key, "-out", cert, "-days", "1", "-subj", "/CN=127.0.0.1"],
                           check=True, capture_output=True)
            cmd += ["--tls", cert, key]
    else:
        raise SystemExit(f"unknown server kind {kind}")
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, cwd=work)
    first = proc.stdout.readline().decode()
    # http.server says "Serving HTTP on 127.0.0.1 port N ...", ours says "N".
    found = re.search(r"port (\d+)", first) or re.match(r"\s*(\d+)", first)
    if not found:
        proc.kill()
        raise SystemExit(f"server {kind} did not start: {first!r}")
    port = int(found.group(1))
    deadline = time.monotonic() + 10
    while True:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return proc, port
        except OSError:
            if time.monotonic() > deadline:
                proc.kill()
                raise
            time.sleep(0.05)


def run(kez, case):
    work = tempfile.mkdtemp(prefix="kez-test-")
    servers = []
    try:
        for name, text in case.files.items():
            full = os.path.join(work, name)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "w", encoding="utf-8") as f:
                f.write("\n".join(text) + "\n")
            if text and text[0].startswith("#!"):
                os.chmod(full, 0o755)
        tests = os.path.dirname(os.path.abspath(__file__))
        for path in case.copies:
            shutil.copy(os.path.join(tests, path), work)
        source = "\n".join(case.input) + "\n"
        for name, kind in case.servers:
            proc, port = start_server(kind, work)
            servers.append(proc)
            source = source.replace("$" + name, str(port))
            case.ports[name] = port
        env = {k: v for k, v in os.environ.items() if k.lower() not in PROXY_VARIABLES}
        env.update(case.env)
        if case.stress_floor and "KEZ_GC_STRESS" in env:
            env["KEZ_GC_STRESS"] = str(max(int(env["KEZ_GC_STRESS"]), case.stress_floor))
        env["HOME"] = work
        env.update(case.env)
        if case.script:
            with open(os.path.join(work, "test.kez"), "w", encoding="utf-8") as f:
                f.write(source)
            cmd, stdin = [kez, "test.kez"] + case.args, b""
        else:
            cmd, stdin = [kez] + (case.command or []), source.encode()
        try:
            # One pipe for both streams keeps reports where they were written.
            p = subprocess.run(cmd, input=stdin, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, cwd=work, env=env, timeout=TIMEOUT)
            out = p.stdout.decode("utf-8", "replace")
            status = p.returncode
        except subprocess.TimeoutExpired:
            out, status = f"(timed out after {TIMEOUT}s)\n", None
        return out, status
    finally:
        for proc in servers:
            proc.terminate()
            proc.wait()
        shutil.rmtree(work, ignore_errors=True)


def main():
    kez = os.path.abspath(sys.argv[1])
    pattern = sys.argv[2] if len(sys.argv) > 2 else ""
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "scripts")
    stress = "KEZ_GC_STRESS" in os.environ
    cases = []
    for dirpath, _, names in sorted(os.walk(root)):
        for name in sorted(names):
            if name.endswith(".txt") and name != "README.txt":
                cases += parse(os.path.join(dirpath, name))
    cases = [c for c in cases if pattern in f"{os.path.relpath(c.path, root)} {c.name}"
             and (c.stress or not stress)]
    passed = failed = 0
    workers = max(2, os.cpu_count() or 2)
    with concurrent.futures.ThreadPoolExecutor(workers) as pool:
        results = pool.map(lambda c: (c, run(kez, c)), cases)
        for case, (out, status) in results:
            want = "\n".join(case.expected).rstrip("\n")
            for name, port in case.ports.items():
                want = want.replace("$" + name, str(port))
            got = out.rstrip("\n")
            if not case.script and not want.startswith("--== Kez"):
                got = BANNER.sub("", got, count=1)
            if got == want and status == case.status:
                passed += 1
                continue
            failed += 1
            where = f"{os.path.relpath(case.path, root)}:{case.line}"
            print(f"FAIL {where}: {case.name}")
            if status != case.status:
                print(f"  exit status {status}, expected {case.status}")
            if got != want:
                diff = difflib.unified_diff(want.split("\n"), got.split("\n"),
                                            "expected", "actual", lineterm="")
                for d in diff:
                    print("  " + d)
    print(f"{passed} passed, {failed} failed")
    sys.exit(1 if failed else 0)


main()
