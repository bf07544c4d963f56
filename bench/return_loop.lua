local function f() for _ = 1, 10 do return 1 end return 0 end
local s = 0
for _ = 1, 1000000 do s = s + f() end
print(s)
