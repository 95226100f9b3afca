-- mod_botwar.lua: four bots of different styles fight over one field while
-- you watch. Nobody plays, so the match is shown as a scene: no slider, no
-- selection. The buttons under the field set the speed.
require("mod_match")

local W, H = 900, 540
local FIGHTERS = {
  {"Vega", 0xff5040, "rusher"}, {"Rigel", 0xffc030, "turtle"},
  {"Deneb", 0x50e060, "expander"}, {"Altair", 0xc060ff, "hunter"},
}
local SPEEDS = {0.5, 1, 2, 4}
local WATCHING = "Bot war: you watch four bots fight. Escape for the speed and the menu."

local fighters       -- {user, name, style, label}
local buttons        -- speed -> {image, label}
local speed = 1

local function set_speed(s)
  speed = s
  if mod_match.phase == "play" then z2.speed = s end
  for v, b in pairs(buttons) do b.image.render_color = v == s and 0x3080ff or 0x303848 end
end

local function start()
  local neutral = mod_match.new_match()
  fighters = {}
  for i, f in ipairs(FIGHTERS) do
    local u = mod_match.new_bot(f[1], f[2], f[3])
    local x = (i == 1 or i == 4) and W * 0.1 or W * 0.9
    local y = (i <= 2) and H * 0.15 or H * 0.85
    z2_planet_init(u, x, y, 100, 50)
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
  z2.player = 0 -- nobody's planets
  mod_match.watch(WATCHING)
  set_speed(speed)
end

local function standings()
  local tally = mod_match.tally()
  local alive, last = 0, nil
  for _, f in ipairs(fighters) do
    if mod_match.alive(tally, f.user) then
      alive = alive + 1
      last = f
      f.label.label_text = string.format("%s %s: %d", f.name, f.style, tally[f.user].planets)
    else
      f.label.label_text = f.name .. " is out"
    end
  end
  if alive <= 1 then
    z2.speed = 1
    local line = last and (last.name .. " the " .. last.style .. " wins") or "Nobody is left"
    mod_match.finish("Bot war", {line, string.format("after %d seconds", math.floor(mod_match.clock))},
      {{"Rematch", "again"}, {"Menu", "menu"}})
  end
end

function init()
  start()
end

function loop(t)
  mod_match.loop(t, standings, 0.5)
end

-- A speed button of the pause page sets the speed and goes back to the match.
local actions = {again = start}
for _, s in ipairs(SPEEDS) do
  actions["speed:" .. s] = function()
    set_speed(s)
    mod_match.resume()
  end
end

function actions.pause()
  local b = {{"Back to the match", "resume"}}
  for _, s in ipairs(SPEEDS) do b[#b + 1] = {"Speed x" .. s, "speed:" .. s} end
  b[#b + 1] = {"Rematch", "again"}
  b[#b + 1] = {"Menu", "menu"}
  return mod_match.page("Paused", {"Watching at x" .. speed}, b)
end

function event(e)
  local v = e.value
  if e.type == "ui:up" and type(v) == "string" and v:sub(1, 6) == "speed:" then
    set_speed(tonumber(v:sub(7)) or 1)
  else
    mod_match.event(e, actions)
  end
end
