# Finds the last of a million integers, ten times over.
b = list(range(1, 1000001))
for _ in range(10):
    p = b.index(1000000)
print(p + 1)
