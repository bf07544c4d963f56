-- Two million integer coordinate additions and multiplications, then a
-- million float coordinate additions.
local x, y = 0, 0
for _ = 1, 2000000 do x, y = x + 1 * 2, y + 2 * 2 end
local qx, qy = 0.0, 0.0
for _ = 1, 1000000 do qx, qy = qx + 0.5, qy + 0.25 end
print(x, y, qx, qy)
