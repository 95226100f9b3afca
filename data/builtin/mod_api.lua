-- mod_api.lua: the Lua face of the game API. Builds the global table `z2`
-- (constructors, search, the form, parameters as fields), the item objects,
-- and the entry points _init, _loop and _event that the engine calls; they
-- call the mod's own init(), loop(t) and event(e), so a mod without one of
-- them fails there, which blocks the engine until its next script.
--
-- setmetatable, getmetatable, rawset and rawget leave the mods' globals after
-- the first run; the game's own scripts still see them, also when a mod
-- requires this one again. Library functions are kept as locals too, so the
-- layer still works inside z2_sandbox runs (no string metatable) and after a
-- mod replaces a library global.

local setmetatable, getmetatable = setmetatable, getmetatable
local rawget, rawset = rawget, rawset
local type, tostring, tonumber = type, tostring, tonumber
local sqrt = math.sqrt

-- ==== item objects ==============================================================

-- Kept when this script runs again (a mod may require it), so objects made
-- before and after still compare equal and share the cache.
if type(_z2_object_meta) ~= "table" then _z2_object_meta = {} end
local meta = _z2_object_meta

-- One table per number while anybody holds it; weak values keep the cache
-- from growing with every number a mod ever asked for.
if type(_z2_object_cache) ~= "table" then
  _z2_object_cache = setmetatable({}, {__mode = "v"})
end
local cache = _z2_object_cache

-- An object or a plain item number, as its number.
local function num(x)
  if type(x) == "table" then return x.n end
  return x
end

function _z2_object(n)
  n = tonumber(n)
  if n == nil or n ~= n then return nil end
  local o = cache[n]
  if o == nil then
    -- The metatable is a global that any code may edit: a finalizer put there
    -- would later run outside every limit, so none is ever attached.
    if rawget(meta, "__gc") ~= nil then rawset(meta, "__gc", nil) end
    o = setmetatable({n = n}, meta)
    cache[n] = o
  end
  return o
end

meta.__index = function(self, k)
  local m = rawget(meta, k)
  if m ~= nil then return m end
  return z2_item_get(rawget(self, "n"), k)
end

meta.__newindex = function(self, k, v)
  z2_item_set(rawget(self, "n"), k, v)
end

meta.__eq = function(a, b) return a.n == b.n end
meta.__tostring = function(self) return tostring(self.n) end
meta.__concat = function(a, b) return tostring(a) .. tostring(b) end

function meta.owner(self) return _z2_object(self.owner_n) end
function meta.team(self) return _z2_object(self.user_team_n) end
function meta.distance(self, b) return _z2_distance(self, b) end
function meta.fleet_redirect(self, b) z2_fleet_redirect(self.n, num(b)) end
function meta.fleet_send(self, perc, b) return _z2_object(z2_fleet_send(perc, self.n, num(b))) end
function meta.planet_chown(self, user) z2_planet_chown(self.n, num(user)) end
function meta.destroy(self) z2_item_destroy(self.n) end
function meta.sync(self) z2_item_sync(self.n) end
function meta.selected(self) return z2_item_selected(self.n) end

function _z2_distance(a, b)
  local dx = b.position_x - a.position_x
  local dy = b.position_y - a.position_y
  return sqrt(dx * dx + dy * dy)
end

-- ==== constructors ===============================================================

function _z2_new_team(name, color)
  return _z2_object(z2_team_init(name, color))
end

function _z2_new_user(name, color, team)
  return _z2_object(z2_user_init(name, color, num(team)))
end

function _z2_new_planet(user, x, y, production, ships)
  return _z2_object(z2_planet_init(num(user), x, y, production, ships))
end

function _z2_new_fleet(user, ships, from, to)
  return _z2_object(z2_fleet_init(num(user), ships, num(from), num(to)))
end

function _z2_new_part(src, d, x, y, r, q, a, vx, vy, vr, vq, va)
  z2_part_init(src, d, x, y, r, q, a, vx, vy, vr, vq, va)
end

-- Keys are written one by one, in this order, each through z2_item_set.
function _z2_new_label(text, x, y, color)
  local o = _z2_object(z2_item_init())
  o.has_label = true
  o.label_text = text
  o.label_font = "font"
  o.label_size = 20
  o.has_position = true
  o.position_x = x
  o.position_y = y
  o.render_color = color or 16777215
  o.render_alpha = 255
  o.render_blend = 0
  return o
end

function _z2_new_image(src, x, y, w, h)
  local o = _z2_object(z2_item_init())
  o.has_position = true
  o.position_x = x
  o.position_y = y
  o.has_image = true
  o.image_src = src
  o.image_w = w
  o.image_h = h
  o.image_cx = 0
  o.image_cy = 0
  o.image_scale = 1
  o.render_color = 16777215
  o.render_alpha = 255
  o.render_blend = 0
  return o
end

local function new_draw(kind, x, y)
  local o = _z2_object(z2_item_init())
  o.has_position = true
  o.position_x = x
  o.position_y = y
  o.has_draw = true
  o.draw_type = kind
  return o
end

local function draw_colors(o, color)
  o.render_color = color
  o.render_alpha = 255
  o.render_blend = 1
  return o
end

function _z2_new_circle(color, x, y, r)
  local o = new_draw("C", x, y)
  o.draw_r = r
  return draw_colors(o, color)
end

function _z2_new_line(color, x, y, x2, y2)
  local o = new_draw("L", x, y)
  o.draw_x2 = x2
  o.draw_y2 = y2
  return draw_colors(o, color)
end

function _z2_new_triangle(color, x, y, x2, y2, x3, y3)
  local o = new_draw("T", x, y)
  o.draw_x2 = x2
  o.draw_y2 = y2
  o.draw_x3 = x3
  o.draw_y3 = y3
  return draw_colors(o, color)
end

-- ==== search, form, network ======================================================

function _z2_items_find(query)
  local r = z2_items_find(query)
  for i = 1, #r do r[i] = _z2_object(r[i]) end
  return r
end

_z2_form_meta = {
  __index = function(t, k) return z2_gui_get(k) end,
  __newindex = function(t, k, v) z2_gui_set(k, v) end,
}
_z2_form = setmetatable({}, _z2_form_meta)

function _z2_net_send(uid, kind, value)
  if type(uid) == "table" then uid = uid.uid end
  z2_net_send(uid, kind, value)
end

-- ==== the z2 table ===============================================================

-- Fields the table lacks are mod parameters; an object is stored as its number.
_z2_module_meta = {
  __index = function(t, k) return z2_param_get(k) end,
  __newindex = function(t, k, v)
    if type(v) == "table" and getmetatable(v) == meta then v = v.n end
    z2_param_set(k, v)
  end,
}

function _z2_init()
  local z2 = {
    game_reset = z2_game_reset,
    planets_settle = z2_planets_settle,
    play_sound = z2_play_sound,
    play_music = z2_play_music,
    view_set = z2_view_set,
    clip_set = z2_clip_set,
    bounds_set = z2_bounds_set,
    net_host = z2_net_host,
    net_join = z2_net_join,
    chat_append = z2_chat_append,
    chat_keywords = z2_chat_keywords,
    new_team = _z2_new_team,
    new_user = _z2_new_user,
    new_planet = _z2_new_planet,
    new_fleet = _z2_new_fleet,
    new_label = _z2_new_label,
    new_image = _z2_new_image,
    new_circle = _z2_new_circle,
    new_line = _z2_new_line,
    new_triangle = _z2_new_triangle,
    new_part = _z2_new_part,
    item = _z2_object,
    search = _z2_items_find,
    distance = _z2_distance,
    form = _z2_form,
    net_send = _z2_net_send,
  }
  return setmetatable(z2, _z2_module_meta)
end

z2 = _z2_init()
_z2_init = nil

-- ==== entry points ================================================================

function _init()
  init()
end

function _loop(t)
  loop(t)
end

function _event(e)
  event(e)
end
