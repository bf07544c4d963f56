-- Two million clamped byte-wise additions and scalings of colour tuples.
local c = {0, 0, 0}
local d = {1, 2, 3}
for _ = 1, 2000000 do
  local s = {}
  for i = 1, 3 do s[i] = math.min(255, math.floor(d[i] * 0.5)) end
  local n = {}
  for i = 1, 3 do n[i] = math.min(255, c[i] + s[i]) end
  c = n
end
print(c[1], c[2], c[3])
