# Sends 100 MB through `cat` and captures what comes back, twice; prints
# the throughput in MB/s.
import subprocess, time

data = bytes(range(10)) * 10000000
t = time.perf_counter()
for _ in range(2):
    out = subprocess.run(["cat"], input=data, capture_output=True).stdout
secs = time.perf_counter() - t
print(len(out), "bytes,", int(200 / secs), "MB/s")
