# Walks a million-element list by index five times, summing the value at
# each position, then filters it once with a test that keeps every value.
b = []
for i in range(1, 1000001):
    b.append(i % 100)
s = 0
for _ in range(5):
    for i in range(len(b)):
        s = s + b[i]


def keep(x):
    global s
    s = s + x
    return not x > 100


b = [x for x in b if keep(x)]
print(s, len(b))
