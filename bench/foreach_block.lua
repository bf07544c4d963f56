-- Sums a million-element table ten times with ipairs.
local b = {}
for i = 1, 1000000 do b[#b + 1] = i % 100 end
s = 0
for _ = 1, 10 do
  for _, x in ipairs(b) do s = s + x end
end
print(s)
