-- Finds the last of a million integers, ten times over.
local b = {}
for i = 1, 1000000 do b[i] = i end
local p
for _ = 1, 10 do
  for i = 1, #b do
    if b[i] == 1000000 then p = i break end
  end
end
print(p)
