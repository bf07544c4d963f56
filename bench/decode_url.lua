-- Splits 100,000 URLs of four shapes (plain host; user, port, path, query
-- and fragment; a deep path; a query) into their parts with string
-- patterns, and prints how many have a port and the rate.
local function unescape(s)
  return (s:gsub("%%(%x%x)", function(h) return string.char(tonumber(h, 16)) end))
end

local function split(url)
  local scheme, rest = url:match("^(%a[%w+.-]*):(.*)$")
  if not scheme then return nil end
  local parts = {scheme = scheme}
  local authority, path = rest:match("^//([^/?#]*)(.*)$")
  if authority then
    local user, hostport = authority:match("^(.*)@(.*)$")
    parts.user = user and unescape(user)
    hostport = hostport or authority
    local host, port = hostport:match("^(.-):(%d+)$")
    if port and #port > 5 then return nil end
    parts.host = unescape(host or hostport)
    parts.port = port and tonumber(port)
  else
    path = rest
  end
  local p, query, fragment = path:match("^([^?#]*)%??([^#]*)#?(.*)$")
  if p ~= "" then
    p = unescape(p)
    parts.path, parts.target = p:match("^(.*/)([^/]*)$")
    if not parts.path then parts.path, parts.target = "./", p end
  end
  parts.query = query ~= "" and unescape(query) or nil
  parts.fragment = fragment ~= "" and unescape(fragment) or nil
  return parts
end

local shapes = {
  function(i) return "http://host" .. i .. ".example.com/" end,
  function(i) return "https://user:pw@host" .. i .. ".example.com:8443/docs/page" .. i ..
                     ".html?a=" .. i .. "&b=2#top" end,
  function(i) return "ftp://files.example.org/pub/dir" .. i .. "/archive.tar.gz" end,
  function(i) return "http://example.com/search?q=term" .. i end,
}
local urls = {}
for i = 1, 100000 do urls[i] = shapes[i % 4 + 1](i) end
local t = os.clock()
local ports = 0
for _, u in ipairs(urls) do
  local parts = split(u)
  if parts.port then ports = ports + 1 end
end
print(string.format("patterns %d ports %d URLs/s", ports, math.floor(100000 / (os.clock() - t))))
