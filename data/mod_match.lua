-- mod_match.lua: the small pieces the match mods here share.
--
--   require("mod_match")                -- defines the global table mod_match
--   mod_match.scatter(owner, count, x, y, w, h, prod, ships)
--                                       -- count planets at random places; prod and
--                                       -- ships are {low, high}; returns their numbers
--   mod_match.tally()                   -- per user: planets, ships, fleets (below)
--   mod_match.sides(tally)              -- the teams still in the game, and how many
--   mod_match.outcome(tally, me, foes)  -- "lost" when me is out, "won" when every
--                                       -- user in the list foes is out, else nil
--   mod_match.page(title, lines, buttons)
--                                       -- markup for a page: a title, lines of text and
--                                       -- buttons {label, action}; a click on one sends
--                                       -- the mod {type = "onclick", value = action}
--
-- tally() returns {[user number] = {planets = n, ships = n, fleets = n,
-- team = n, neutral = bool}} for every user that owns a planet or a fleet;
-- a side is out of the game when it has neither.

if type(mod_match) ~= "table" then mod_match = {} end

local M = mod_match
local find, get = z2_items_find, z2_item_get
local random, floor = math.random, math.floor

local function between(r)
  if type(r) ~= "table" then return r end
  return random(floor(r[1]), floor(r[2]))
end

function M.scatter(owner, count, x, y, w, h, prod, ships)
  local out = {}
  for i = 1, count do
    out[i] = z2_planet_init(owner, x + random() * w, y + random() * h, between(prod), between(ships))
  end
  return out
end

function M.tally()
  local t = {}
  local function of(u)
    local s = t[u]
    if not s then
      s = {planets = 0, ships = 0, fleets = 0}
      local ok, team = pcall(get, u, "user_team_n")
      s.team = ok and team or u
      local nok, neutral = pcall(get, u, "user_neutral")
      s.neutral = nok and neutral or false
      t[u] = s
    end
    return s
  end
  for _, p in ipairs(find("planet")) do
    local s = of(get(p, "owner_n"))
    s.planets = s.planets + 1
    s.ships = s.ships + get(p, "ships_value")
  end
  for _, f in ipairs(find("fleet")) do
    local s = of(get(f, "owner_n"))
    s.fleets = s.fleets + 1
    s.ships = s.ships + get(f, "fleet_ships")
  end
  return t
end

-- Neutral owners never count as a side.
function M.sides(tally)
  local teams, count = {}, 0
  for _, s in pairs(tally) do
    if not s.neutral and (s.planets > 0 or s.fleets > 0) and not teams[s.team] then
      teams[s.team] = true
      count = count + 1
    end
  end
  return teams, count
end

local function alive(s) return s ~= nil and (s.planets > 0 or s.fleets > 0) end

function M.outcome(tally, me, foes)
  if not alive(tally[me]) then return "lost" end
  for _, u in ipairs(foes) do
    if alive(tally[u]) then return nil end
  end
  return "won"
end

function M.page(title, lines, buttons)
  local m = {"<table>"}
  if title and title ~= "" then m[#m + 1] = "<tr><td><h1>" .. title .. "</h1>" end
  for _, line in ipairs(lines or {}) do m[#m + 1] = "<tr><td><p>" .. line .. "</p>" end
  for _, b in ipairs(buttons or {}) do
    m[#m + 1] = "<tr><td><input type='button' value='" .. b[1] .. "' onclick='" .. b[2] .. "' width=240 />"
  end
  m[#m + 1] = "</table>"
  return table.concat(m)
end
