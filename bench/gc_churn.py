for _ in range(10):
    b = []
    for _ in range(1000000):
        b.append("x"[:])
    b = None
print("done")
