# A million puts, then a million selects, with integer keys.
m = {}
for i in range(1, 1000001):
    m[i] = i
s = 0
for i in range(1, 1000001):
    s += m[i]
print(len(m), s)
