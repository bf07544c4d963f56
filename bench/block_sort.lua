-- Sorts a million random integers.
math.randomseed(1)
local b = {}
for i = 1, 1000000 do b[i] = math.random(1, 1000000) end
table.sort(b)
print(#b)
