-- Counts to 10 million in a global variable.
n = 0
for _ = 1, 10000000 do n = n + 1 end
print(n)
