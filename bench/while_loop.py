i = 0
while i < 5000000:
    i += 1
print(i)
