# Reads a 100 MB file with urllib.request from a local HTTP server (started
# by bench/run.sh with http_read.server.py, its URL in KEZ_BENCH_URL) and
# prints the size and the rate.
import os, sys, time, urllib.request

url = os.environ.get("KEZ_BENCH_URL")
if not url:
    sys.exit("KEZ_BENCH_URL is not set")
# The server is local: no proxy may stand between.
opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
t = time.perf_counter()
data = opener.open(url).read()
print(f"urllib {len(data)} bytes {len(data) / 1e6 / (time.perf_counter() - t):.1f} MB/s")
