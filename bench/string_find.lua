-- Finds, ignoring case, a word at the end of a 10 MB string, ten times over.
local s = string.rep("abcdefghij", 1000000) .. "NEEDLE"
local p
for i = 1, 10 do p = string.find(string.lower(s), "needle", 1, true) end
print(p)
