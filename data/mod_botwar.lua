-- mod_botwar.lua: four bots of different styles fight over one field while
-- you watch. The buttons under the field set the speed.
require("mod_bots")
require("mod_match")

local W, H = 900, 540
local FIGHTERS = {
  {"Vega", 0xff5040, "rusher"}, {"Rigel", 0xffc030, "turtle"},
  {"Deneb", 0x50e060, "expander"}, {"Altair", 0xc060ff, "hunter"},
}
local SPEEDS = {0.5, 1, 2, 4}

local fighters       -- {user, name, style, label}
local buttons        -- speed -> {image, label}
local speed = 1
local phase
local clock, check_at = 0, 0

local function set_speed(s)
  speed = s
  if phase == "play" then z2.speed = s end
  for v, b in pairs(buttons) do b.image.render_color = v == s and 0x3080ff or 0x303848 end
end

local function start()
  z2.game_reset()
  mod_bots.clear()
  local neutral = z2_user_init("neutral", 0x808080, 0)
  z2_item_set(neutral, "ships_production_enabled", false)
  fighters = {}
  for i, f in ipairs(FIGHTERS) do
    local u = z2_user_init(f[1], f[2], 0)
    z2_item_set(u, "has_bot", true)
    local x = (i == 1 or i == 4) and W * 0.1 or W * 0.9
    local y = (i <= 2) and H * 0.15 or H * 0.85
    z2_planet_init(u, x, y, 100, 50)
    mod_bots.new(u, f[3])
    local label = z2.new_label("", W * (i - 0.5) / #FIGHTERS, H + 62, f[2])
    label.label_align = 0
    fighters[#fighters + 1] = {user = u, name = f[1], style = f[3], label = label}
  end
  mod_match.scatter(neutral, 18, W * 0.15, H * 0.1, W * 0.7, H * 0.8, {15, 90}, {5, 40})
  z2.planets_settle(0, 0, W, H)
  z2.view_set(0, 0, W, H + 80)
  buttons = {}
  for i, s in ipairs(SPEEDS) do
    local x = W / 2 + (i - 2.5) * 90
    local img = z2.new_image("white", x - 40, H + 6, 80, 30)
    img.has_button = true
    img.button_name = "speed:" .. s
    local label = z2.new_label("x" .. s, x, H + 21, 0xffffff)
    label.label_align = 0
    label.label_valign = 0
    buttons[s] = {image = img, label = label}
  end
  z2.player = 0 -- nobody's planets: the controls only watch
  phase = "play"
  clock, check_at = 0, 0
  z2.status = "Bot war: rusher, turtle, expander and hunter"
  z2.state = "play"
  set_speed(speed)
end

local function show_end(winner)
  phase = "over"
  z2.speed = 1
  local line = winner and (winner.name .. " the " .. winner.style .. " wins") or "Nobody is left"
  z2.status = line
  z2.html = mod_match.page("Bot war", {line, string.format("after %d seconds", math.floor(clock))},
    {{"Rematch", "again"}, {"Menu", "menu"}})
  z2.state = "dialog"
end

local function standings()
  local tally = mod_match.tally()
  local alive, last = 0, nil
  for _, f in ipairs(fighters) do
    local s = tally[f.user]
    local planets = s and s.planets or 0
    if s and (s.planets > 0 or s.fleets > 0) then
      alive = alive + 1
      last = f
      f.label.label_text = string.format("%s %s: %d", f.name, f.style, planets)
    else
      f.label.label_text = f.name .. " is out"
    end
  end
  if alive <= 1 then show_end(last) end
end

function init()
  start()
end

function loop(t)
  if phase ~= "play" then return end
  clock = clock + t
  mod_bots.loop(t)
  if clock >= check_at then
    check_at = clock + 0.5
    standings()
  end
end

function event(e)
  local v = e.value
  if e.type == "ui:up" and type(v) == "string" and v:sub(1, 6) == "speed:" then
    set_speed(tonumber(v:sub(7)) or 1)
  elseif e.type == "pause" then
    local b = {{"Back to the match", "resume"}}
    for _, s in ipairs(SPEEDS) do b[#b + 1] = {"Speed x" .. s, "speed:" .. s} end
    b[#b + 1] = {"Rematch", "again"}
    b[#b + 1] = {"Menu", "menu"}
    z2.html = mod_match.page("Paused", {"Watching at x" .. speed}, b)
  elseif e.type == "back" or (e.type == "onclick" and v == "resume") then
    if phase == "over" then z2.state = "quit" else z2.state = "play" end
  elseif e.type == "onclick" then
    if v == "again" then
      start()
    elseif v == "menu" then
      z2.state = "quit"
    elseif type(v) == "string" and v:sub(1, 6) == "speed:" then
      set_speed(tonumber(v:sub(7)) or 1)
      z2.state = "play"
    end
  end
end
