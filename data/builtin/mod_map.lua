-- mod_map.lua: the galaxy map of the online play client. Stars, routes,
-- regions and ships become world items shown as a slowly turning, tilted
-- disc; the program turns and tilts them ("zentar2:map_rotate") from the
-- stored positions, so the script only ever moves those.
--
-- Defines functions only: it is loaded before the client turns strict mode on.

local find, sub, gsub, format = string.find, string.sub, string.gsub, string.format
local floor, sqrt, sin, cos, atan2 = math.floor, math.sqrt, math.sin, math.cos, math.atan2
local min, max, abs, pi = math.min, math.max, math.abs, math.pi
local random = math.random

local function text(v)
  if v == nil then return "" end
  return tostring(v)
end

local function split(s, sep)
  local out, at = {}, 1
  while true do
    local i = find(s, sep, at, true)
    if not i then
      out[#out + 1] = sub(s, at)
      return out
    end
    out[#out + 1] = sub(s, at, i - 1)
    at = i + 1
  end
end

-- A text table: rows split by "`", fields by ","; the first row names the
-- columns and a field past them is keyed "?".
function map_table_decode(s)
  local out = {}
  s = text(s)
  if s == "" then return out end
  local rows = split(s, "`")
  local names = split(rows[1], ",")
  for r = 2, #rows do
    if rows[r] ~= "" then
      local rec = {}
      for i, cell in ipairs(split(rows[r], ",")) do
        rec[names[i] or "?"] = cell
      end
      out[#out + 1] = rec
    end
  end
  return out
end

-- A colour the host sent: nil unless it is a 24-bit value, which is all an
-- item's colour holds.
local function hex(s)
  s = gsub(text(s), "^#", "")
  local c = tonumber(s, 16)
  if c and c >= 0 and c <= 0xffffff then return c end
  return nil
end

-- A number the host sent, for a position or a size: within reach of the
-- map's floats, else the default (NaN and the infinities too).
local function num(v, default)
  local n = tonumber(v)
  if not n or n ~= n or abs(n) > 1e6 then return default end
  return n
end

local function fade(c)
  local r, g, b = floor(c / 65536) % 256, floor(c / 256) % 256, c % 256
  return floor(r / 3) * 65536 + floor(g / 3) * 256 + floor(b / 3)
end

-- ==== building ===================================================================

local function new_map(data)
  local M = {
    data = data,
    clans_id = tonumber(data.clans_id) or 0,
    stars = map_table_decode(data.stars),
    wars = map_table_decode(data.wars),
    users = map_table_decode(data.users),
    clans = map_table_decode(data.clans),
    star_by_id = {}, star_by_n = {}, items_by_star = {}, wars_by_star = {}, clan_by_id = {},
    SIZE = 1920,
    FOCUS = nil,
    VIEW_A = 0, _VIEW_A = 0,
    MX = 0, MY = 0, MA = 0,
    ZSCALE = 0.65, _ZSCALE = 0.65,
    ZSTAR = 1.0, _ZSTAR = 1.0,
    CALPHA = 0, _CALPHA = 0,
    speed = 50,
    clock = 0,
    info = {}, flares = {}, circles = {}, markers = {}, neutrals = {}, ships = {},
    drag = nil,
  }
  M.ZSIZE = 1.125 * M.SIZE
  for _, s in ipairs(M.stars) do
    s.x = num(s.x, 0)
    s.y = num(s.y, 0)
    s.size = num(s.size, 10)
    s.c = hex(s.color) or 0xffffff
    s.name = text(s.name)
    M.star_by_id[text(s.id)] = s
  end
  for _, w in ipairs(M.wars) do M.wars_by_star[text(w.stars_id)] = w end
  for _, c in ipairs(M.clans) do M.clan_by_id[text(c.id)] = c end
  return M
end

local function whole(M)
  local z = M.ZSIZE
  return {x = -z / 2, y = -z / 2, w = z, h = z}
end

local function xitem(o, x, y)
  o._position_x = x
  o._position_y = y
  o.has_xflag = true
  return o
end

-- A name shown under a star or a ship in a free zoom. It is an item of its
-- own: the planet painter writes ship counts into planets' labels, and a
-- ship's alpha is its picture's. Hidden until the loop shows it.
local function name_label(name)
  local l = z2.new_label(name, 0, 0, 0xffffff)
  l.label_font = "font-outline"
  l.label_size = 6
  l.label_valign = 1
  l.render_alpha = 0
  l.has_label = false
  return l
end

local function build_stars(M)
  local users = {}
  for _, s in ipairs(M.stars) do
    local u = users[s.c]
    if u == nil then
      local team = z2.new_team("team", s.c)
      u = z2.new_user("star", s.c, team)
      u.planet_style = '{"hidden":true,"aura":"map-aura-sun"}'
      users[s.c] = u
    end
    local p = z2.new_planet(u, s.x, s.y, 0, 0)
    xitem(p, s.x, s.y)
    p.planet_r = s.size / 2
    p.ships_production = s.size / 2
    p.has_label = true
    p.label_text = s.name
    p.has_button = true
    p.button_name = tostring(p.n)
    -- A button is found by its image box, which a planet made without ships
    -- does not have: the star and 10 units around it, as a tap counts.
    local box = s.size + 20
    p.image_w, p.image_h, p.image_cx, p.image_cy, p.image_scale = box, box, box / 2, box / 2, 1
    p.render_zindex = -1
    s.item = p
    s.name_item, s.name_alpha = name_label(s.name), 0
    M.star_by_n[p.n] = s
    M.items_by_star[text(s.id)] = p

    local r = sqrt(s.x * s.x + s.y * s.y)
    local src = "map-nebula1"
    if random() * r < 0.225 * M.SIZE / 5 then src = "map-nebula2" end
    local cz = 0.675 * random(16, 72) * 2 / sqrt(2)
    local neb = xitem(z2.new_image(src, s.x, s.y, 2 * cz, 2 * cz), s.x, s.y)
    neb.render_color = s.c
    neb.render_blend = 1
    neb.render_alpha = floor(0x44 + 0xbb * min(1, 4 * r / M.SIZE))
    neb.image_a = random() * 2 * pi
    neb.render_zindex = -1
  end
end

local function link(o, a, b, c)
  o._draw_x2 = b.x
  o._draw_y2 = b.y
  if c then
    o._draw_x3 = c.x
    o._draw_y3 = c.y
  end
  return xitem(o, a.x, a.y)
end

local function build_routes(M)
  for _, s in ipairs(M.stars) do
    local routes = text(s.routes)
    if routes ~= "" then
      local sep = find(routes, ":", 1, true) and ":" or ";"
      for _, r in ipairs(split(routes, sep)) do
        local color, id = 0x333333, r
        local mark = sub(r, 1, 1)
        if mark == "+" then color, id = 0xffffff, sub(r, 2)
        elseif mark == "-" then color, id = s.c, sub(r, 2) end
        local t = M.star_by_id[id]
        if t then
          local l = link(z2.new_line(color, s.x, s.y, t.x, t.y), s, t)
          l.has_image = true
          l.image_src = "map-line"
          l.render_blend = 1
          l.render_zindex = -1
        end
      end
    end
    local regions = text(s.regions)
    if regions ~= "" then
      for _, r in ipairs(split(regions, ";")) do
        local mark = sub(r, 1, 1)
        local ids = split(sub(r, 2), ":")
        local a, b = M.star_by_id[ids[1] or ""], M.star_by_id[ids[2] or ""]
        if a and b and (mark == "+" or mark == "-") then
          local color = mark == "+" and 0xffffff or s.c
          local tri = z2.new_triangle(fade(color), s.x, s.y, a.x, a.y, b.x, b.y)
          link(tri, s, a, b)
          tri.render_zindex = -1
        end
      end
    end
  end
end

local function pick_star(M)
  if #M.stars == 0 then return nil end
  return M.stars[random(1, #M.stars)]
end

local function build_ships(M)
  for i = 1, 25 do
    local a, d = random() * 2 * pi, random() * 500
    local x, y = cos(a) * d, sin(a) * d
    local o = xitem(z2.new_image("ship", x, y, 20, 20), x, y)
    o.render_color = 0x888888
    M.neutrals[#M.neutrals + 1] = {item = o, x = x, y = y, target = pick_star(M), w = 20}
  end
  local uid = text(z2.uid)
  for _, u in ipairs(M.users) do
    local s = M.star_by_id[text(u.stars_id)]
    if s then
      local own = text(u.id) == uid and uid ~= ""
      local a = random() * 2 * pi
      local d = own and 45 or 35
      local x, y = s.x + cos(a) * d, s.y + sin(a) * d
      local src = text(u.image)
      if src == "" then src = "ship" end
      local o = xitem(z2.new_image(src, x, y, 20, 20), x, y)
      o.render_color = hex(u.color) or 0xffffff
      o.render_alpha = 255
      local ship = {item = o, x = x, y = y, star = s, w = 20, own = own,
                    name_item = name_label(text(u.name)), name_alpha = 0}
      M.ships[#M.ships + 1] = ship
      if own then
        M.own = ship
        local mk = xitem(z2.new_image("map-marker", x, y, 75, 75), x, y)
        M.markers[#M.markers + 1] = mk
        ship.marker = mk
      end
    end
  end
  if M.clans_id > 0 then
    for _, s in ipairs(M.stars) do
      local c = hex(s.marker)
      if c then
        local o = xitem(z2.new_circle(c, s.x, s.y, 25), s.x, s.y)
        M.circles[#M.circles + 1] = o
      end
    end
  end
end

-- Decodes the map data; false (and a log line) when it is not a JSON object.
function map_data_init(value)
  local ok, data = pcall(json.decode, text(value))
  if not ok or type(data) ~= "table" then
    print("map: bad map data")
    return false
  end
  z2.game_reset()
  local M = new_map(data)
  M.VIEW = whole(M)
  M._VIEW = whole(M)
  GAME.map = M
  return true
end

-- ==== views ======================================================================

local function square(x, y, half)
  return {x = x - half, y = y - half, w = 2 * half, h = 2 * half}
end

-- Shown position of a stored point, as the program turns and tilts it.
local function shown(M, x, y)
  local a = M._VIEW_A
  return x * cos(a) - y * sin(a), (x * sin(a) + y * cos(a)) * M._ZSCALE
end

local function info_clear(M)
  for _, o in ipairs(M.info) do o:destroy() end
  M.info = {}
end

local function default_view(M)
  M.FOCUS = nil
  local z = M.ZSIZE
  M.VIEW = {x = -z / 3, y = -z / 3, w = 2 * z / 3, h = 2 * z / 3}
  info_clear(M)
end

local function focus_star(M, s)
  local p = s.item
  M.FOCUS = p.n
  local x, y = shown(M, s.x, s.y)
  M.VIEW = square(x, y, 24 + 3)
  info_clear(M)
  play_send("map:view", text(s.id))
end

local function map_loop(M, t)
  M.clock = M.clock + t
  -- ships
  local function fly(ship, dest)
    if not dest then return true end
    local dx, dy = dest.x - ship.x, dest.y - ship.y
    local d = sqrt(dx * dx + dy * dy)
    if d <= ship.w / 2 then return true end
    local step = min(d, M.speed * t)
    ship.x = ship.x + dx / d * step
    ship.y = ship.y + dy / d * step
    ship.item._position_x = ship.x
    ship.item._position_y = ship.y
    ship.item.image_a = atan2(dy, dx)
    if ship.marker then
      ship.marker._position_x = ship.x
      ship.marker._position_y = ship.y
    end
    return false, (d - step) / M.speed
  end
  for _, n in ipairs(M.neutrals) do
    if fly(n, n.target) then n.target = pick_star(M) end
  end
  for _, s in ipairs(M.ships) do
    if s.target then
      local arrived, left = fly(s, s.target)
      if s.own then
        if arrived then
          z2.status = ""
        else
          local secs = floor(left + 0.5)
          z2.status = s.target.name .. ",  ETA: " .. format("%d:%02d", floor(secs / 60), secs % 60)
        end
      end
      if arrived then
        s.star = s.target
        s.target = nil
      end
    end
  end
  -- momentum and easing
  M.VIEW.x = M.VIEW.x + M.MX
  M.VIEW.y = M.VIEW.y + M.MY
  M.VIEW_A = M.VIEW_A + M.MA
  local V, S = M.VIEW, M._VIEW
  S.x, S.y = (5 * S.x + V.x) / 6, (5 * S.y + V.y) / 6
  S.w, S.h = (5 * S.w + V.w) / 6, (5 * S.h + V.h) / 6
  M._VIEW_A = (5 * M._VIEW_A + M.VIEW_A) / 6
  M._ZSCALE = (5 * M._ZSCALE + M.ZSCALE) / 6
  M._ZSTAR = (5 * M._ZSTAR + M.ZSTAR) / 6
  M._CALPHA = (5 * M._CALPHA + M.CALPHA) / 6
  local cx, cy = S.x + S.w / 2, S.y + S.h / 2
  -- labels in a free zoom, fading out 80 units from the view centre
  local function show_label(o, x, y, below)
    local a = 0
    if M.FOCUS == true then
      a = floor(255 * max(0, 1 - sqrt((x - cx) ^ 2 + (y - cy) ^ 2) / 80))
    end
    if a == 0 and o.name_alpha == 0 then return end
    o.name_alpha = a
    local l = o.name_item
    l.position_x = x
    l.position_y = y + below
    l.render_alpha = a
    l.has_label = a > 0
  end
  for _, st in ipairs(M.stars) do
    local x, y = shown(M, st.x, st.y)
    show_label(st, x, y, st.size / 2 * M._ZSTAR + 1)
  end
  for _, sh in ipairs(M.ships) do
    local x, y = shown(M, sh.x, sh.y)
    show_label(sh, x, y, sh.w / 2 + 1)
  end
  z2.view_set(S.x, S.y, S.w, S.h)
  z2.clip_set(S.x - S.w / 2, S.y - S.h / 2, 2 * S.w, 2 * S.h)
  local zoom = 1.125 + ((M.ZSIZE / S.w) - 1) / 8
  z2.bkgr_zoom = zoom
  z2.bkgr_dx = (zoom - 1) * cx / M.ZSIZE
  z2.bkgr_dy = (zoom - 1) * cy / M.ZSIZE
  M.MX, M.MY, M.MA = M.MX * 0.95, M.MY * 0.95, M.MA * 0.95
  if not M.drag then
    local z = M.ZSIZE
    V.w, V.h = min(V.w, z), min(V.h, z)
    V.x = max(-z / 2, min(z / 2 - V.w, V.x))
    V.y = max(-z / 2, min(z / 2 - V.h, V.y))
  end
  if M.FOCUS == nil then
    M.VIEW_A = M.VIEW_A - 0.025 * t
    M.ZSCALE, M.ZSTAR, M.CALPHA = 0.65, 1.0, 0
  else
    M.ZSCALE, M.ZSTAR = 1.0, 0.25
    M.CALPHA = M.FOCUS == true and 0xaa or 0
  end
  z2_ext_call("zentar2:map_rotate",
    json.encode({t = M.clock, aa = M._VIEW_A, zscale = M._ZSCALE, zstar = M._ZSTAR}))
  for _, o in ipairs(M.info) do
    o.render_alpha = floor((5 * o.render_alpha + 255) / 6 + 0.5)
  end
  for _, o in ipairs(M.circles) do o.draw_r = 25 * M._ZSTAR end
  for _, o in ipairs(M.markers) do
    o.image_w = 75 * M._ZSTAR
    o.image_h = 75 * M._ZSTAR
  end
  -- lens flares
  for _, o in ipairs(M.flares) do o:destroy() end
  M.flares = {}
  for _, st in ipairs(M.stars) do
    local x, y = shown(M, st.x, st.y)
    if x >= S.x and x <= S.x + S.w and y >= S.y and y <= S.y + S.h then
      local d = sqrt((x - cx) ^ 2 + (y - cy) ^ 2)
      local sz = st.size * M._ZSTAR * (3 + 0.25 * sin(M.clock + st.x))
      local f = z2.new_image("map-flare3", x, y, sz, sz)
      f.render_color = st.c
      f.render_blend = 1
      f.render_alpha = floor(sqrt(max(0, 255 - 3 * d) / 255) * 255)
      M.flares[#M.flares + 1] = f
    end
  end
  -- sparks over a war
  if #M.wars > 0 and random(1, 31) == 1 then
    local w = M.wars[random(1, #M.wars)]
    local st = M.star_by_id[text(w.stars_id)]
    if st then
      local x, y = shown(M, st.x, st.y)
      for i = 1, 10 do
        local a = random() * 2 * pi
        z2.new_part("spark", 1, x, y, 4, 4, 255, cos(a) * 20, sin(a) * 20, 0, 0, -255)
      end
    end
  end
end

-- ==== star info ==================================================================

local function info_add(M, o)
  o.render_alpha = 0
  M.info[#M.info + 1] = o
  return o
end

local function info_label(M, s, x, y, color)
  local l = info_add(M, z2.new_label(s, x, y, color))
  l.label_font = "font-outline"
  l.label_size = 4
  return l
end

local function star_info(M, s, buttons)
  info_clear(M)
  local x, y = shown(M, s.x, s.y)
  local r = s.size / 2 * M._ZSTAR
  local aura = info_add(M, z2.new_image("planet-aura", x, y, 4 * r, 4 * r))
  aura.render_color = s.c
  local clan = M.clan_by_id[text(s.clans_id)]
  local ly = y + r + 4
  if clan then
    local icon = info_add(M, z2.new_image("", x - 8, ly, 3, 3))
    icon.has_image = false
    icon.has_draw = true
    icon.draw_type = "P"
    icon.draw_pixart = text(clan.icon)
    info_label(M, s.name .. " [" .. text(clan.name) .. "]", x, ly, 0xffffff)
  else
    info_label(M, s.name, x, ly, 0xffffff)
  end
  if text(s.label) ~= "" then info_label(M, s.label, x, y - r - 4, 0xaaaaaa) end
  local w = M.wars_by_star[text(s.id)]
  if w then
    local ap, dp = num(w.attacker_points, 0), num(w.defender_points, 0)
    local total = ap + dp
    local split_at = total > 0 and 35 * dp / total or 17.5
    local bx, by = x - 17.5, ly + 6
    local dc, ac = hex(w.defender_color) or 0x444444, hex(w.attacker_color) or 0x444444
    info_add(M, z2.new_triangle(dc, bx, by, bx + split_at, by, bx, by + 5))
    info_add(M, z2.new_triangle(dc, bx + split_at, by, bx + split_at, by + 5, bx, by + 5))
    info_add(M, z2.new_triangle(ac, bx + split_at, by, bx + 35, by, bx + split_at, by + 5))
    info_add(M, z2.new_triangle(ac, bx + 35, by, bx + 35, by + 5, bx + split_at, by + 5))
    local attacker = M.clan_by_id[text(w.attacker_id)]
    info_label(M, "vs. [" .. text(attacker and attacker.name) .. "]", x, by + 9, 0xffffff)
  end
  for i, b in ipairs(buttons or {}) do
    if type(b) == "table" then
      local bx, by = x + r + 8, y + (i - 1) * 6
      local img = info_add(M, z2.new_image(text(b.icon), bx, by, 5, 5))
      img.has_button = true
      img.button_name = text(b.onclick) .. "/" .. text(s.id)
      info_label(M, text(b.label), bx + 4, by, 0x888888).label_align = -1
    end
  end
end

-- ==== the module =================================================================

local function point_star(M, e)
  local s = M.star_by_n[tonumber(e.n) or 0]
  if not s then return nil end
  local x, y = shown(M, s.x, s.y)
  local d = sqrt((x - (tonumber(e.x) or 0)) ^ 2 + (y - (tonumber(e.y) or 0)) ^ 2)
  if d <= s.size / 2 * M._ZSTAR + 10 then return s end
  return nil
end

local function ui_up(M, e)
  local value = text(e.value)
  local slash = find(value, "/", 1, true)
  if slash then
    z2.play_sound("sfx-click")
    play_send(sub(value, 1, slash - 1), sub(value, slash + 1))
    return
  end
  local s = point_star(M, e)
  if s then
    if M.FOCUS ~= s.item.n then focus_star(M, s) end
    return
  end
  if M.FOCUS == nil then
    M.FOCUS = true
    M.VIEW = square(tonumber(e.x) or 0, tonumber(e.y) or 0, 64 + 8)
    info_clear(M)
  else
    default_view(M)
  end
end

local function ui_motion(M, e)
  local d = M.drag
  if not d then return end
  local x, y = tonumber(e.x) or 0, tonumber(e.y) or 0
  if not d.moving then
    if sqrt((x - d.x0) ^ 2 + (y - d.y0) ^ 2) < 50 then return end
    d.moving = true
    d.x, d.y = x, y
    return
  end
  if M.FOCUS == nil then
    local da = atan2(y, x) - atan2(d.y, d.x)
    if da > pi then da = da - 2 * pi elseif da < -pi then da = da + 2 * pi end
    M.VIEW_A = M.VIEW_A + da
    M.MX, M.MY, M.MA = 0, 0, da
  else
    local dx, dy = d.x - x, d.y - y
    local V, z = M.VIEW, M.ZSIZE
    if V.x < -z / 2 or V.x + V.w > z / 2 then dx = dx / 2 end
    if V.y < -z / 2 or V.y + V.h > z / 2 then dy = dy / 2 end
    V.x, V.y = V.x + dx, V.y + dy
    M.MX, M.MY, M.MA = dx, dy, 0
  end
  d.x, d.y = x, y
end

function map_module(client)
  local m = {}

  -- Back to the client module, the map's items gone.
  local function leave_map()
    z2.state = GAME.state
    z2.status = ""
    z2.html = ""
    z2.game_reset()
    GAME.map = nil
    GAME.engine.next(client)
  end

  function m.init()
    local M = GAME.map
    if not M then return end
    z2.game_reset()
    math.randomseed(23099)
    M.VIEW, M._VIEW = whole(M), whole(M)
    z2.view_set(M.VIEW.x, M.VIEW.y, M.VIEW.w, M.VIEW.h)
    z2.state = "scene"
    z2.bkgr_src = "background05"
    z2.bkgr_stars = 3
    z2.bkgr_zoom = 1.0
    build_stars(M)
    build_routes(M)
    math.randomseed(os.time())
    default_view(M)
    local V = M.VIEW
    M._VIEW = {x = V.x * 3, y = V.y * 3, w = V.w * 3, h = V.h * 3}
    build_ships(M)
    map_loop(M, 0)
  end

  function m.loop(t)
    if GAME.map then map_loop(GAME.map, t) end
    client.loop(t)
  end

  function m.event(e)
    local M = GAME.map
    local kind, value = e.type, e.value
    if not M then return client.event(e) end
    if kind == "pause" then
      z2.state = "dialog"
    elseif kind == "quit" then
      play_send("map:leave", "")
      z2.quit = false
    elseif kind == "back" or (kind == "onclick" and (value == "resume" or value == "map:resume")) then
      z2.state = "scene"
    elseif kind == "onclick" and value == "map:leave" then
      play_send("map:leave", "")
    elseif kind == "net:map:cleanup" then
      leave_map()
    elseif kind == "net:disconnect" then
      -- The galaxy host is gone: the client says so, over no map (unless
      -- the host's own word is up).
      if not GAME.error then leave_map() end
      client.event(e)
    elseif kind == "net:map:buttons" then
      local s = M.star_by_n[M.FOCUS or 0]
      if s then
        local ok, list = pcall(json.decode, text(value))
        if ok and type(list) == "table" then star_info(M, s, list) end
      end
    elseif kind == "net:map:goto" then
      local s = M.star_by_id[text(value)]
      if s and M.own then
        M.own.target = s
        focus_star(M, s)
      end
    elseif kind == "net:map:focus" then
      local s = M.star_by_id[text(value)]
      if s then
        focus_star(M, s)
        M._VIEW = {x = M.VIEW.x, y = M.VIEW.y, w = M.VIEW.w, h = M.VIEW.h}
      end
    elseif kind == "ui:down" then
      M.MX, M.MY, M.MA = 0, 0, 0
      M.drag = {x0 = tonumber(e.x) or 0, y0 = tonumber(e.y) or 0, moving = false}
    elseif kind == "ui:motion" then
      if (tonumber(e.b) or 0) ~= 0 then ui_motion(M, e) end
    elseif kind == "ui:up" then
      local d = M.drag
      M.drag = nil
      if not (d and d.moving) then ui_up(M, e) end
    else
      client.event(e)
    end
  end

  return m
end
