-- Decodes a generated JSON document of 10 MB (records of numbers, strings
-- with escapes and non-ASCII text, nested arrays and objects) with dkjson
-- (pure Lua), encodes the result again, and prints both rates.
local json = require("dkjson")
local parts, size, n = {"["}, 1, 0
while size < 10000000 do
  n = n + 1
  local rec = string.format('{"id": %d, "name": "record %d", "score": %s, "ratio": -1.5e-3, ' ..
    '"active": true, "owner": null, "tags": ["alpha", "beta", "caf\\u00e9 \\"quoted\\"\\n"], ' ..
    '"text": "déjà vu ✓", "nested": {"x": [1, 2, 3], "y": {"z": false}}}', n, n, n * 0.25)
  if n > 1 then rec = "," .. rec end
  parts[#parts + 1] = rec
  size = size + #rec
end
parts[#parts + 1] = "]"
local text = table.concat(parts)
local t = os.clock()
local v = json.decode(text)
print(string.format("dkjson decode %.2f MB/s", #text / 1e6 / (os.clock() - t)))
t = os.clock()
local out = json.encode(v)
print(string.format("dkjson encode %.2f MB/s", #out / 1e6 / (os.clock() - t)))
