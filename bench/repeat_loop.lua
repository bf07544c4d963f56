local s = 0
for i = 1, 10000000 do s = s + i end
print(string.format("%.0f", s))
