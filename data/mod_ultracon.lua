-- mod_ultracon.lua: ultimate conquest. A field of 140 planets, you and seven
-- bots of mixed skill. The map is far bigger than the screen: the buttons in
-- the corner zoom in and out, the arrows (or a drag with the middle button)
-- move the view. Hold two thirds of all planets, or be the last one
-- standing, to win.
require("mod_bots")
require("mod_match")

local W, H = 2400, 1600
local PLANETS = 140
local RIVALS = {
  {"Vega", 0xff5040, 3}, {"Rigel", 0xffc030, 4}, {"Deneb", 0x50e060, 5}, {"Altair", 0xc060ff, 6},
  {"Sirius", 0xff9030, 7}, {"Mira", 0x40e0e0, 8}, {"Antares", 0xff80b0, 9},
}
local ZOOMS = {1, 2, 3.5}  -- how many times closer than the whole map
local PAN = 0.6            -- share of the view moved in a second while an arrow is held

local me, rivals
local phase, clock, check_at
local zoom, cx, cy         -- the view: zoom step and centre
local held                 -- the arrow being held, or nil
local controls             -- {item, dx, dy} placed each frame in view units
local you_label

local function view_rect()
  local z = ZOOMS[zoom]
  local w, h = W / z, H / z
  cx = math.max(w / 2, math.min(W - w / 2, cx))
  cy = math.max(h / 2, math.min(H - h / 2, cy))
  return cx - w / 2, cy - h / 2, w, h
end

-- The buttons stay in the view's corner at the same size on screen.
local function place_controls()
  local x, y, w = view_rect()
  local k = w / 800
  for _, c in ipairs(controls) do
    local item, label = c.item, c.label
    item.position_x, item.position_y = x + c.at[1] * k, y + c.at[2] * k
    item.image_scale = k
    label.position_x = x + (c.at[1] + 19) * k
    label.position_y = y + (c.at[2] + 19) * k
    label.label_size = math.floor(22 * k + 0.5)
    label.render_alpha = 255
  end
end

local function set_view()
  z2.view_set(view_rect())
  place_controls()
end

local function control(name, text, x, y)
  local item = z2.new_image("white", 0, 0, 38, 38)
  item.render_color = 0x283858
  item.render_alpha = 200
  item.has_button = true
  item.button_name = name
  local label = z2.new_label(text, 0, 0, 0xffffff)
  label.label_align = 0
  label.label_valign = 0
  controls[#controls + 1] = {item = item, label = label, at = {x, y}}
end

local function start()
  z2.game_reset()
  mod_bots.clear()
  math.randomseed(os.time())
  local neutral = z2_user_init("neutral", 0x808080, 0)
  z2_item_set(neutral, "ships_production_enabled", false)
  local name = tostring(z2.name or "")
  me = z2_user_init(name ~= "" and name or "You", 0x3080ff, 0)
  -- Homes on a ring, the player's to the west.
  local homes = #RIVALS + 1
  local home
  rivals = {}
  for i = 0, #RIVALS do
    local a = math.pi + i * 2 * math.pi / homes
    local x, y = W / 2 + math.cos(a) * W * 0.42, H / 2 + math.sin(a) * H * 0.4
    if i == 0 then
      home = z2_planet_init(me, x, y, 100, 60)
    else
      local r = RIVALS[i]
      local u = z2_user_init(r[1], r[2], 0)
      z2_item_set(u, "has_bot", true)
      z2_planet_init(u, x, y, 100, 60)
      mod_bots.new(u, r[3])
      rivals[#rivals + 1] = u
    end
  end
  mod_match.scatter(neutral, PLANETS - homes, W * 0.04, H * 0.04, W * 0.92, H * 0.92, {15, 90}, {5, 45})
  z2.planets_settle(0, 0, W, H)
  z2.player = me

  you_label = z2.new_label("YOU", z2_item_get(home, "position_x"), z2_item_get(home, "position_y") - 45, 0xffffff)
  you_label.label_align = 0
  controls = {}
  -- At the right, beside the slider: the player's home starts at the left
  -- edge of the view, where buttons would cover it.
  control("zoom_in", "+", 630, 60)
  control("zoom_out", "-", 630, 104)
  control("left", "<", 630, 170)
  control("right", ">", 718, 170)
  control("up", "^", 674, 126)
  control("down", "v", 674, 214)
  -- Start close to home: the whole map is only a glance away.
  zoom = 2
  cx, cy = z2_item_get(home, "position_x"), z2_item_get(home, "position_y")
  set_view()
  held = nil
  phase, clock, check_at = "play", 0, 1
  z2.state = "play"
end

local function show_end(victory, line)
  phase = "over"
  local title = victory and "Conquest!" or "Conquered"
  z2.status = title
  z2.html = mod_match.page(title, {line}, {{"New map", "again"}, {"Menu", "menu"}})
  z2.state = "dialog"
end

local function check()
  local tally = mod_match.tally()
  local mine = tally[me]
  if not mine or (mine.planets == 0 and mine.fleets == 0) then
    return show_end(false, string.format("after %d minutes", math.floor(clock / 60)))
  end
  local alive = 0
  for _, u in ipairs(rivals) do
    local s = tally[u]
    if s and (s.planets > 0 or s.fleets > 0) then alive = alive + 1 end
  end
  local goal = math.ceil(PLANETS * 2 / 3)
  if alive == 0 or mine.planets >= goal then
    return show_end(true, string.format("%d planets in %d minutes", mine.planets, math.floor(clock / 60)))
  end
  z2.status = string.format("You hold %d of %d planets; %d win. Rivals left: %d", mine.planets, PLANETS, goal, alive)
end

function init()
  start()
end

function loop(t)
  if phase ~= "play" then return end
  clock = clock + t
  mod_bots.loop(t)
  if held then
    local _, _, w, h = view_rect()
    cx = cx + held[1] * w * PAN * t
    cy = cy + held[2] * h * PAN * t
    set_view()
  end
  if clock >= check_at then
    check_at = clock + 0.5
    check()
  end
end

local ARROWS = {left = {-1, 0}, right = {1, 0}, up = {0, -1}, down = {0, 1}}

function event(e)
  local v = e.value
  if e.type == "ui:down" and ARROWS[v] then
    held = ARROWS[v]
  elseif e.type == "ui:up" then
    held = nil
    if v == "zoom_in" and zoom < #ZOOMS then
      zoom = zoom + 1
      set_view()
    elseif v == "zoom_out" and zoom > 1 then
      zoom = zoom - 1
      set_view()
    end
  elseif e.type == "ui:motion" and (tonumber(e.b) or 0) == 2 then
    -- A middle-button drag carries the map along with the pointer.
    cx = cx - (tonumber(e.dx) or 0)
    cy = cy - (tonumber(e.dy) or 0)
    set_view()
  elseif e.type == "pause" then
    held = nil
    z2.html = mod_match.page("Paused", {z2.status or ""},
      {{"Back to the match", "resume"}, {"New map", "again"}, {"Menu", "menu"}})
  elseif e.type == "back" or (e.type == "onclick" and v == "resume") then
    if phase == "over" then z2.state = "quit" else z2.state = "play" end
  elseif e.type == "onclick" then
    if v == "again" then start() elseif v == "menu" then z2.state = "quit" end
  end
end
