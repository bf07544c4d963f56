# Two million integer coordinate additions and multiplications, then a
# million float coordinate additions.
x, y = 0, 0
for _ in range(2000000):
    x, y = x + 1 * 2, y + 2 * 2
qx, qy = 0.0, 0.0
for _ in range(1000000):
    qx, qy = qx + 0.5, qy + 0.25
print(x, y, qx, qy)
