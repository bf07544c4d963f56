s = 0
i = 0
for _ in range(10000000):
    i = i + 1
    s = ((s + i) * 3) & 255
print(s)
