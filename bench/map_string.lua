-- A million puts, then a million selects, with string keys.
local keys = {}
for i = 1, 1000000 do keys[i] = tostring(i) end
local m, n = {}, 0
for _, k in ipairs(keys) do m[k] = 1; n = n + 1 end
local s = 0
for _, k in ipairs(keys) do s = s + m[k] end
print(n, s)
