-- mod_ultracon.lua: ultimate conquest. A field of 140 planets, you and seven
-- bots of mixed skill. The map is far bigger than the screen: the buttons in
-- the bar under it zoom in and out, the arrows (or a drag with the middle
-- button) move the view. Hold two thirds of all planets, or be the last one
-- standing, to win.
require("mod_match")

local W, H = 2400, 1600
local PLANETS = 140
local RIVALS = {
  {"Vega", 0xff5040, 3}, {"Rigel", 0xffc030, 4}, {"Deneb", 0x50e060, 5}, {"Altair", 0xc060ff, 6},
  {"Sirius", 0xff9030, 7}, {"Mira", 0x40e0e0, 8}, {"Antares", 0xff80b0, 9},
}
local ZOOMS = {1, 2, 3.5}  -- how many times closer than the whole map
local PAN = 0.6            -- share of the view moved in a second while an arrow is held
local BAR = 48             -- the bar under the map, in units of a view 800 wide

local me, rivals
local zoom, cx, cy         -- the view: zoom step and centre
local held                 -- the arrow being held, or nil
local pressed              -- the button a press went down on, or nil
local bar                  -- the bar's background image
local controls             -- {item, label, at} placed each frame in view units

local function view_rect()
  local z = ZOOMS[zoom]
  local w, h = W / z, H / z
  cx = math.max(w / 2, math.min(W - w / 2, cx))
  cy = math.max(h / 2, math.min(H - h / 2, cy))
  return cx - w / 2, cy - h / 2, w, h
end

-- The bar takes a strip under the part of the map in view, so its buttons
-- cover no planet of that part; it keeps its size on screen at every zoom.
-- The screen may show more of the map than the view asks for: the bar
-- reaches far to the sides and down, over whatever lies there.
local function set_view()
  local x, y, w, h = view_rect()
  local k = w / 800
  z2.view_set(x, y, w, h + BAR * k)
  bar.position_x, bar.position_y = x - 800 * k, y + h
  bar.image_scale = k
  for _, c in ipairs(controls) do
    local item, label = c.item, c.label
    item.position_x, item.position_y = x + c.at * k, y + h + 5 * k
    item.image_scale = k
    label.position_x = x + (c.at + 19) * k
    label.position_y = y + h + 24 * k
    label.label_size = math.floor(22 * k + 0.5)
    label.render_alpha = 255
  end
end

-- The bar and its buttons draw in layer 1, over the ships: a fleet
-- flying under the bar takes item slots after the bar's.
local function control(name, text, x)
  local item = z2.new_image("white", 0, 0, 38, 38)
  item.render_color = 0x283858
  item.render_zindex = 1
  item.has_button = true
  item.button_name = name
  local label = z2.new_label(text, 0, 0, 0xffffff)
  label.label_align = 0
  label.label_valign = 0
  label.render_zindex = 1
  controls[#controls + 1] = {item = item, label = label, at = x}
end

local function start()
  math.randomseed(os.time())
  local neutral = mod_match.new_match()
  me = mod_match.new_player()
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
      local u = mod_match.new_bot(r[1], r[2], r[3])
      z2_planet_init(u, x, y, 100, 60)
      rivals[#rivals + 1] = u
    end
  end
  mod_match.scatter(neutral, PLANETS - homes, W * 0.04, H * 0.04, W * 0.92, H * 0.92, {15, 90}, {5, 45})
  z2.planets_settle(0, 0, W, H)
  z2.player = me

  local you = z2.new_label("YOU", z2_item_get(home, "position_x"), z2_item_get(home, "position_y") - 45, 0xffffff)
  you.label_align = 0
  -- An opaque bar, drawn over whatever lies beyond the part in view.
  bar = z2.new_image("white", 0, 0, 2400, BAR + 800)
  bar.render_color = 0x101828
  bar.render_zindex = 1
  controls = {}
  control("zoom_out", "-", 258)
  control("zoom_in", "+", 302)
  control("left", "<", 372)
  control("up", "^", 416)
  control("down", "v", 460)
  control("right", ">", 504)
  -- Start close to home: the whole map is only a glance away.
  zoom = 2
  cx, cy = z2_item_get(home, "position_x"), z2_item_get(home, "position_y")
  set_view()
  held, pressed = nil, nil
  mod_match.play()
end

local function check()
  local tally = mod_match.tally()
  local minutes = math.floor(mod_match.clock / 60)
  local buttons = {{"New map", "again"}, {"Menu", "menu"}}
  if not mod_match.alive(tally, me) then
    return mod_match.finish("Conquered", {mod_match.OUT, string.format("after %d minutes", minutes)}, buttons)
  end
  local alive = 0
  for _, u in ipairs(rivals) do
    if mod_match.alive(tally, u) then alive = alive + 1 end
  end
  local mine, goal = tally[me].planets, math.ceil(PLANETS * 2 / 3)
  if alive == 0 or mine >= goal then
    return mod_match.finish("Conquest!", {string.format("%d planets in %d minutes", mine, minutes)}, buttons)
  end
  z2.status = string.format("You hold %d of %d planets; %d win. Rivals left: %d", mine, PLANETS, goal, alive)
end

function init()
  start()
end

function loop(t)
  if held and mod_match.phase == "play" then
    local _, _, w, h = view_rect()
    cx = cx + held[1] * w * PAN * t
    cy = cy + held[2] * h * PAN * t
    set_view()
  end
  mod_match.loop(t, check, 0.5)
end

local ARROWS = {left = {-1, 0}, right = {1, 0}, up = {0, -1}, down = {0, 1}}

function event(e)
  local v = e.value
  if e.type == "ui:down" then
    pressed = v ~= "" and v or nil
    held = ARROWS[v]
  elseif e.type == "ui:up" then
    -- A button is clicked by a press and a release on it: a drag that ends
    -- over one (the middle button's pan, say) leaves the zoom as it is.
    local clicked = v ~= "" and v == pressed and v
    held, pressed = nil, nil
    if clicked == "zoom_in" and zoom < #ZOOMS then
      zoom = zoom + 1
      set_view()
    elseif clicked == "zoom_out" and zoom > 1 then
      zoom = zoom - 1
      set_view()
    end
  elseif e.type == "ui:motion" and (tonumber(e.b) or 0) == 2 then
    -- A middle-button drag carries the map along with the pointer.
    cx = cx - (tonumber(e.dx) or 0)
    cy = cy - (tonumber(e.dy) or 0)
    set_view()
  else
    if e.type == "pause" then held = nil end
    mod_match.event(e, {
      pause = function()
        return mod_match.page("Paused", {z2.status or ""},
          {{"Back to the match", "resume"}, {"New map", "again"}, {"Menu", "menu"}})
      end,
      again = start,
    })
  end
end
