-- Builds small tables in a loop, half a million times each way.
local a = 1
n = 0
for _ = 1, 500000 do
  local r = {a, a + 1, "x", a * 2}
  local c = {"a", a + 1, "x", a * 2, {"(a)"}}
  n = n + #r
end
print(n)
