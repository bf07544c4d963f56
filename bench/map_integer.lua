-- A million puts, then a million selects, with integer keys.
local m, n = {}, 0
for i = 1, 1000000 do m[i] = i; n = n + 1 end
local s = 0
for i = 1, 1000000 do s = s + m[i] end
print(n, s)
