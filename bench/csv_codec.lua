-- Reads 10 MB of CSV text (ten columns, some fields quoted: commas, doubled
-- quotes and line breaks inside) with a pure-Lua splitter, writes the lines
-- again, and prints both rates.
local parts, size, n = {}, 0, 0
while size < 10000000 do
  n = n + 1
  local line = string.format('%d,record %d,"Smith, John",%d,2024-01-15,"say ""hi""",' ..
    'déjà vu,"two\nlines",12.5,plain text\n', n, n, n * 3)
  parts[#parts + 1] = line
  size = size + #line
end
local text = table.concat(parts)

-- Fields are plain runs up to a comma or line end, or quoted with doubled
-- quotes inside.
local function split(s)
  local rows, row, i, len = {}, {}, 1, #s
  while i <= len do
    local field
    if s:sub(i, i) == '"' then
      local buf, j = {}, i + 1
      while true do
        local q = s:find('"', j, true)
        buf[#buf + 1] = s:sub(j, q - 1)
        if s:sub(q + 1, q + 1) == '"' then
          buf[#buf + 1] = '"'
          j = q + 2
        else
          i = q + 1
          break
        end
      end
      field = table.concat(buf)
    else
      local e = s:find('[,\n]', i) or len + 1
      field = s:sub(i, e - 1)
      i = e
    end
    row[#row + 1] = field
    local c = s:sub(i, i)
    i = i + 1
    if c ~= "," then
      rows[#rows + 1] = row
      row = {}
    end
  end
  return rows
end

local function escape(f)
  if f:find('[,"\n\r ]') then return '"' .. f:gsub('"', '""') .. '"' end
  return f
end

local t = os.clock()
local rows = split(text)
print(string.format("lua split %.2f MB/s", #text / 1e6 / (os.clock() - t)))
t = os.clock()
local out = {}
for _, row in ipairs(rows) do
  local fields = {}
  for k, f in ipairs(row) do fields[k] = escape(f) end
  out[#out + 1] = table.concat(fields, ",") .. "\n"
end
out = table.concat(out)
print(string.format("lua write %.2f MB/s", #out / 1e6 / (os.clock() - t)))
