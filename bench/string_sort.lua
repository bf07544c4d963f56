-- Sorts 200,000 random strings, ignoring case.
math.randomseed(1)
local b = {}
for i = 1, 200000 do b[i] = tostring(math.random(1, 1000000000)) end
table.sort(b, function(x, y) return string.lower(x) < string.lower(y) end)
print(#b)
