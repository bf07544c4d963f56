# Prints 100,000 lines (output redirected).
for i in range(1, 100001):
    print("line", i, "of", 100000)
