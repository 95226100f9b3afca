-- mod_demo.lua: the quiet match behind the main menu. Three slow bots trade
-- planets; when one holds them all a new map begins. Its state names no
-- screen, so the menu stays in front.
require("mod_match")

local W, H = 800, 600
local BOTS = {{"Blue", 0x3080ff}, {"Red", 0xff5040}, {"Gold", 0xffc030}}

-- The menu's buttons stand in the middle of the screen: the planets keep to
-- two strips at the sides, one planet to a cell (columns, then rows, as
-- shares of the map), so none lands under a button.
local COLUMNS = {0.08, 0.22, 0.78, 0.92}
local ROWS = {0.2, 0.5, 0.8}
local HOMES = {{1, 2}, {4, 1}, {4, 3}} -- the bots' cells: column, row

local seed = 7

local function new_map()
  math.randomseed(seed)
  seed = seed + 1
  local grey = mod_match.new_match()
  local taken = {}
  for i, b in ipairs(BOTS) do
    -- Slow and careful: the menu's match should drift, not race.
    local u = mod_match.new_bot(b[1], b[2], {think = 5 + i, aim = "near", send = 40, margin = 1.6, sources = 1})
    local c, r = HOMES[i][1], HOMES[i][2]
    taken[c .. ":" .. r] = u
  end
  for c, x in ipairs(COLUMNS) do
    for r, y in ipairs(ROWS) do
      local jx, jy = (math.random() - 0.5) * 0.06 * W, (math.random() - 0.5) * 0.16 * H
      local owner = taken[c .. ":" .. r]
      if owner then
        z2_planet_init(owner, x * W + jx, y * H + jy, 80, 30)
      else
        z2_planet_init(grey, x * W + jx, y * H + jy, math.random(20, 70), math.random(8, 30))
      end
    end
  end
  z2_view_set(0, 0, W, H)
end

local function check()
  local _, sides = mod_match.sides(mod_match.tally())
  if sides <= 1 then new_map() end
end

function init()
  z2_param_set("state", "demo")
  new_map()
end

function loop(t)
  mod_match.loop(t, check, 5)
end

function event(e) end
