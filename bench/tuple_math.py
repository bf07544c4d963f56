# Two million clamped byte-wise additions and scalings of colour tuples.
c = (0, 0, 0)
d = (1, 2, 3)
for _ in range(2000000):
    s = tuple(min(255, int(b * 0.5)) for b in d)
    c = tuple(min(255, a + b) for a, b in zip(c, s))
print(c)
