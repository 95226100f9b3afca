-- mod_demo.lua: the quiet match behind the main menu. Three slow bots trade
-- planets; when one holds them all a new map begins. Its state names no
-- screen, so the menu stays in front.
require("mod_bots")
require("mod_match")

local W, H = 800, 600
local BOTS = {{"Blue", 0x3080ff}, {"Red", 0xff5040}, {"Gold", 0xffc030}}

local clock, check_at, seed = 0, 0, 7

local function new_map()
  math.randomseed(seed)
  seed = seed + 1
  z2_game_reset()
  mod_bots.clear()
  local grey = z2_user_init("neutral", 0x808080, 0)
  z2_item_set(grey, "ships_production_enabled", false)
  for i, b in ipairs(BOTS) do
    local u = z2_user_init(b[1], b[2], 0)
    z2_item_set(u, "has_bot", true)
    local a = (i - 1) * 2 * math.pi / #BOTS
    z2_planet_init(u, W / 2 + math.cos(a) * W * 0.38, H / 2 + math.sin(a) * H * 0.38, 80, 30)
    -- Slow and careful: the menu's match should drift, not race.
    mod_bots.new(u, {think = 5 + i, aim = "near", send = 40, margin = 1.6, sources = 1})
  end
  mod_match.scatter(grey, 9, W * 0.15, H * 0.15, W * 0.7, H * 0.7, {20, 70}, {8, 30})
  z2_planets_settle(0, 0, W, H)
  z2_view_set(0, 0, W, H)
  check_at = clock + 5
end

function init()
  z2_param_set("state", "demo")
  new_map()
end

function loop(t)
  clock = clock + t
  mod_bots.loop(t)
  if clock >= check_at then
    check_at = clock + 5
    local _, sides = mod_match.sides(mod_match.tally())
    if sides <= 1 then new_map() end
  end
end

function event(e) end
