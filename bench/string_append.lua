-- Appends a million characters one by one; the string widens once, halfway.
local parts = {}
for i = 1, 500000 do parts[#parts + 1] = "a" end
parts[#parts + 1] = "é"
for i = 1, 499999 do parts[#parts + 1] = "b" end
local s = table.concat(parts)
print(utf8.len(s))
