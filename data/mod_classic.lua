-- mod_classic.lua: one player against bots on one map. A settings page
-- picks the map size and the number of bots; then the match runs until one
-- side holds the field.
require("mod_match")

local SIZES = {
  {name = "small", w = 560, h = 360, neutrals = 8},
  {name = "medium", w = 800, h = 500, neutrals = 14},
  {name = "large", w = 1100, h = 700, neutrals = 22},
}
local BOTS = {
  {"Vega", 0xff5040}, {"Rigel", 0xffc030}, {"Deneb", 0x50e060},
  {"Altair", 0xc060ff}, {"Sirius", 0xff9030},
}
local BOT_LEVEL = 5

local size, bot_count = 2, 2
local phase = "settings" -- "settings" or "play"
local me, foes

local function show_settings()
  phase = "settings"
  z2.status = ""
  z2.html = "<table><tr><td><h1>Classic</h1>" ..
    "<tr><td><p>Map size: 1 small, 2 medium, 3 large</p>" ..
    "<tr><td><input type='slider' name='size' low=1 high=3 value=" .. size .. " onchange='size' />" ..
    "<tr><td><p>Bots</p>" ..
    "<tr><td><input type='slider' name='bots' low=1 high=" .. #BOTS .. " value=" .. bot_count ..
    " onchange='bots' />" ..
    "<tr><td>&nbsp;<tr><td><input type='button' value='Start' onclick='start' width=240 />" ..
    "<tr><td><input type='button' value='Menu' onclick='menu' width=240 /></table>"
  z2.state = "menu"
end

local function read_settings()
  local s = tonumber(z2.form.size)
  if s then size = math.max(1, math.min(#SIZES, math.floor(s + 0.5))) end
  local b = tonumber(z2.form.bots)
  if b then bot_count = math.max(1, math.min(#BOTS, math.floor(b + 0.5))) end
end

local function start()
  local map = SIZES[size]
  local W, H = map.w, map.h
  foes = {}
  local neutral = mod_match.new_match()
  me = mod_match.new_player()
  -- Homes around an ellipse, the player's on the left.
  local homes = bot_count + 1
  for i = 0, bot_count do
    local a = math.pi + i * 2 * math.pi / homes
    local x, y = W / 2 + math.cos(a) * W * 0.4, H / 2 + math.sin(a) * H * 0.38
    if i == 0 then
      z2_planet_init(me, x, y, 100, 50)
    else
      local u = mod_match.new_bot(BOTS[i][1], BOTS[i][2], BOT_LEVEL)
      z2_planet_init(u, x, y, 100, 50)
      foes[#foes + 1] = u
    end
  end
  mod_match.scatter(neutral, map.neutrals, W * 0.1, H * 0.1, W * 0.8, H * 0.8, {15, 80}, {5, 40})
  z2.planets_settle(0, 0, W, H)
  z2.view_set(0, 0, W, H)
  z2.player = me
  phase = "play"
  mod_match.play("Take every planet of the " .. bot_count .. (bot_count == 1 and " bot" or " bots") .. ".")
end

local function about() return SIZES[size].name .. " map, " .. bot_count .. (bot_count == 1 and " bot" or " bots") end

local function check()
  local result = mod_match.outcome(mod_match.tally(), me, foes)
  if result == "won" then
    mod_match.finish("Victory!", {about()}, {{"Play again", "start"}, {"Settings", "settings"}, {"Menu", "menu"}})
  elseif result == "lost" then
    mod_match.finish("Defeated", {mod_match.OUT, about()},
      {{"Play again", "start"}, {"Settings", "settings"}, {"Menu", "menu"}})
  end
end

function init()
  show_settings()
end

function loop(t)
  if phase == "play" then mod_match.loop(t, check) end
end

function event(e)
  if e.type == "onchange" then return read_settings() end
  mod_match.event(e, {
    pause = function()
      return mod_match.page("Paused", {about()},
        {{"Back to the match", "resume"}, {"Restart", "start"}, {"Settings", "settings"}, {"Menu", "menu"}})
    end,
    over = show_settings,
    start = function()
      if phase == "settings" then read_settings() end
      start()
    end,
    settings = show_settings,
  })
end
