-- Parses a 2 MB string a hundred times with a repeated literal, then a
-- hundred times more with a search for a word at its end (case ignored).
local s = string.rep("ab", 1000000)
local function some_ab(t)
  local i, n = 1, #t
  while i <= n do
    if string.find(t, "ab", i, true) ~= i then return false end
    i = i + 2
  end
  return true
end
local r = true
for _ = 1, 100 do r = some_ab(s) end
print(r)
s = s .. "NEEDLE"
for _ = 1, 100 do
  local _, e = string.find(string.lower(s), "needle", 1, true)
  r = e == #s
end
print(r)
