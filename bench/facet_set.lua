-- Peer of facet_set.kez: a field set on a plain table, then on tables whose
-- __newindex calls a hook doing the same checks as the face hook, and, when
-- synchronised, one call into a recording platform.
local N = 100000
local FLAGS = {type = 1, offset = 2, size = 4, text = 8}
local view = {debug = false, auto_sync = true}
local relations = {}
local log = {}

local function update_view(face) log[#log + 1] = {'update-view', face} end

local function show(face)
  local state = rawget(face, '_f').state
  if state[2] ~= 0 then update_view(face) state[2] = 0 end
end

local function owned(v) local t = type(v) return t == 'table' or t == 'string' end

local function on_change(face, word, old, new)
  if view.debug then print('-- on-change event --', word) end
  if word == 'state' or word == 'extra' then return end
  if (word == 'size' or word == 'offset') and old.x == new.x and old.y == new.y then return end
  local special = word == 'pane' or word == 'font' or word == 'para' or word == 'text'
    or word == 'data' or word == 'selected'
  if owned(old) or owned(new) then end
  if special then end
  if #relations > 0 then end
  local f = rawget(face, '_f')
  local state = f.state
  if state then
    state[2] = state[2] | FLAGS[word]
    if state[1] and view.auto_sync then show(face) end
  elseif f.type == 'rich-text' then
    update_view(face)
  end
end

local face_mt = {
  __index = function(t, k) return rawget(t, '_f')[k] end,
  __newindex = function(t, k, v)
    local f = rawget(t, '_f')
    local old = f[k]
    f[k] = v
    on_change(t, k, old, v)
  end,
}

local function per_set(name, obj, after)
  local t = os.clock()
  for _ = 1, N do
    local o = obj.offset
    obj.offset = {x = o.x + 1, y = o.y}
    if after then after() end
  end
  print(string.format('%-28s %.1f ns a set', name, (os.clock() - t) / N * 1e9))
end

per_set('plain object', {offset = {x = 0, y = 0}})
local f = setmetatable({_f = {type = 'base', offset = {x = 0, y = 0}}}, face_mt)
per_set('face not shown', f)
f.state = {'handle', 0, false, false}
view.auto_sync = false
per_set('shown, auto-sync off', f)
view.auto_sync = true
per_set('shown, auto-sync on', f, function() log = {} end)
