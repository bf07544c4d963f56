# Finds, ignoring case, a word at the end of a 10 MB string, ten times over.
import re
s = "abcdefghij" * 1000000 + "NEEDLE"
pattern = re.compile("needle", re.IGNORECASE)
for _ in range(10):
    p = pattern.search(s).start()
print(p + 1)
