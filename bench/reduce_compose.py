# Builds small lists in a loop, half a million times each way.
a = 1
n = 0
for _ in range(500000):
    r = [a, a + 1, "x", a * 2]
    c = ["a", a + 1, "x", a * 2, ["(a)"]]
    n = n + len(r)
print(n)
