-- Loading source text: the records of bench/load.cpp in Lua's own notation,
-- read by load, in MB/s.
local RECORDS = 270000
local WORDS = {"alpha", "beta", "gamma", "delta", "epsilon", "zeta", "eta", "theta", "iota",
               "kappa", "lambda", "mu", "nu", "xi", "omicron", "pi", "rho", "sigma", "tau",
               "upsilon", "phi", "chi", "psi", "omega"}
local seed = 1
local function rnd()
  seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
  return seed >> 8
end
local function word() return WORDS[rnd() % #WORDS + 1] end

local parts = {}
for _ = 1, RECORDS do
  local a, b, c = rnd() % 100000, rnd() % 1000, rnd() % 100
  local t1 = word() .. " " .. word()
  local w1 = word()
  local d, e = rnd() % 1000, rnd() % 1000000
  local w2 = word()
  local t2 = word() .. " " .. word()
  local f = rnd() % 100
  local w3, w4 = word(), word()
  local line = string.format('{%d, %d.%02d, "%s", "%s", {%d, %d, "%s", "%s", {%d, "%s"}}, "%s"},\n',
                             a, b, c, t1, w1, d, e, w2, t2, f, w3, w4)
  parts[#parts + 1] = line
end
local source = "return {" .. table.concat(parts) .. "}"
local best
for _ = 1, 3 do
  local start = os.clock()
  local value = load(source)()
  local elapsed = os.clock() - start
  if not best or elapsed < best then best = elapsed end
  value = nil
  collectgarbage()
end
local mb = #source / (1024 * 1024)
print(string.format("  lua load             %6.1f MB in %7.1f ms  %7.1f MB/s", mb, best * 1000, mb / best))
