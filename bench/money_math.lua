-- A million rounds of exact money arithmetic on integers counting
-- hundred-thousandths.
local total = 0
for _ = 1, 1000000 do
  local a = 125000 * 3
  total = total + (a * 100000) // 700000
end
print(string.format("%d.%05d", total // 100000, total % 100000))
