# Sums a million-element list ten times with a for loop.
b = []
for i in range(1, 1000001):
    b.append(i % 100)
s = 0
for _ in range(10):
    for x in b:
        s = s + x
print(s)
