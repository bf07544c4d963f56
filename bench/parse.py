# Parses a 2 MB string a hundred times with a repeated literal, then a
# hundred times more with a search for a word at its end (case ignored).
import re
s = "ab" * 1000000
rep = re.compile("(?:ab)+", re.IGNORECASE)
r = True
for _ in range(100):
    r = rep.fullmatch(s) is not None
print("true" if r else "false")
s += "NEEDLE"
needle = re.compile("needle", re.IGNORECASE)
for _ in range(100):
    m = needle.search(s)
    r = m is not None and m.end() == len(s)
print("true" if r else "false")
