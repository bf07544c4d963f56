# Starts `true` 1,000 times and waits for each.
import subprocess

n = 0
for _ in range(1000):
    n += subprocess.run(["true"]).returncode
print(n)
