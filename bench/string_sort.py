# Sorts 200,000 random strings, ignoring case.
import random
random.seed(1)
b = [str(random.randint(1, 1000000000)) for _ in range(200000)]
b.sort(key=str.lower)
print(len(b))
