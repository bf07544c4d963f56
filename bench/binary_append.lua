-- Appends ten million bytes one at a time (a table of byte values).
local b = {}
for i = 1, 10000000 do
  b[#b + 1] = 7
end
print(#b)
