# Serves a 100 MB file from a temporary directory with python3 -m
# http.server on 127.0.0.1 at a free port, and prints its URL; the HTTP
# benchmarks read it. Runs until it is stopped.
import os, re, signal, subprocess, sys, tempfile

work = tempfile.mkdtemp(prefix="kez-bench-http-")
with open(os.path.join(work, "big.bin"), "wb") as f:
    block = bytes(range(256)) * 4096  # 1 MB
    for _ in range(100):
        f.write(block)
server = subprocess.Popen([sys.executable, "-u", "-m", "http.server", "--bind", "127.0.0.1",
                           "--directory", work, "0"], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL)
port = re.search(r"port (\d+)", server.stdout.readline().decode()).group(1)
print(f"http://127.0.0.1:{port}/big.bin", flush=True)
# Stopped by a signal, it still takes its server and its file away.
signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
try:
    server.wait()
finally:
    server.kill()
    os.remove(os.path.join(work, "big.bin"))
    os.rmdir(work)
