# Removes the duplicates of a million integers (half of them repeats).
b = [i % 500000 for i in range(1, 1000001)]
print(len(list(dict.fromkeys(b))))
