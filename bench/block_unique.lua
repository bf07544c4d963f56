-- Removes the duplicates of a million integers (half of them repeats).
local b = {}
for i = 1, 1000000 do b[i] = i % 500000 end
local seen, out = {}, {}
for _, v in ipairs(b) do
  if not seen[v] then seen[v] = true; out[#out + 1] = v end
end
print(#out)
