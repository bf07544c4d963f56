def f():
    for _ in range(10):
        return 1
    return 0
s = 0
for _ in range(1000000):
    s += f()
print(s)
