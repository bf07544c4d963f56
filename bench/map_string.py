# A million puts, then a million selects, with string keys.
keys = [str(i) for i in range(1, 1000001)]
m = {}
for k in keys:
    m[k] = 1
s = 0
for k in keys:
    s += m[k]
print(len(m), s)
