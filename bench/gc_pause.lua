-- the pause of one full collection with a million live tables
local b = {}
for i = 1, 1000000 do b[i] = {"x"} end
local t = os.clock()
collectgarbage("collect")
print("collect pause:", os.clock() - t)
