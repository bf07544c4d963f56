-- Starts `true` 1,000 times and waits for each (os.execute goes through
-- the shell, the only way Lua has).
local n = 0
for _ = 1, 1000 do
  local ok = os.execute("true")
  if not ok then n = n + 1 end
end
print(n)
