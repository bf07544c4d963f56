# Appends a million characters one by one; the string widens once, halfway.
parts = []
for _ in range(500000):
    parts.append("a")
parts.append("é")
for _ in range(499999):
    parts.append("b")
s = "".join(parts)
print(len(s))
