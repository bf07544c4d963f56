-- fib 20 under debug.sethook, as slowdowns over the plain run: an empty hook
-- on calls, returns and lines, then one that counts and times calls.
local function fib(n) if n < 2 then return n else return fib(n - 1) + fib(n - 2) end end

local function best(f)
  local t = math.huge
  for _ = 1, 3 do
    local s = os.clock()
    f()
    t = math.min(t, os.clock() - s)
  end
  return t
end

local plain = best(function() fib(20) end)
print(string.format("fib 20 untraced: %.1f ms", plain * 1000))
local function ratio(label, f)
  print(string.format("%-30s x %.1f", label, best(f) / plain))
end

ratio("sethook, empty hook", function()
  debug.sethook(function() end, "crl")
  fib(20)
  debug.sethook()
end)

ratio("sethook, counting calls", function()
  local counts, times, stack = {}, {}, {}
  debug.sethook(function(event)
    local info = debug.getinfo(2, "n")
    local name = info and info.name or "?"
    if event == "call" then
      counts[name] = (counts[name] or 0) + 1
      stack[#stack + 1] = os.clock()
    elseif event == "return" and #stack > 0 then
      times[name] = (times[name] or 0) + os.clock() - stack[#stack]
      stack[#stack] = nil
    end
  end, "cr")
  fib(20)
  debug.sethook()
end)
