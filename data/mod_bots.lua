-- mod_bots.lua: computer players for any match mod, written once.
--
--   require("mod_bots")                 -- defines the global table mod_bots
--   local b = mod_bots.new(user, 5)     -- a bot of level 1 (idle) .. 10 (ruthless)
--   local b = mod_bots.new(user, "rusher")          -- or a style by name
--   local b = mod_bots.new(user, {think = 2, send = 60})  -- or own settings
--   mod_bots.loop(t)                    -- every frame: each bot whose turn it is moves
--   mod_bots.move(b)                    -- one move now (turn-based games)
--   mod_bots.clear()                    -- forget every bot (before a new match)
--
-- `user` is a user item (its number or its object). A bot is a plain table
-- {user, think, aim, send, margin, sources, defend, team, wait}; change its
-- fields at any time. The settings, given by mod_bots.difficulty(level) or by
-- mod_bots.styles[name]:
--   think    seconds between two moves: how often it acts
--   aim      how it picks a target: "near" (closest), "weak" (fewest ships),
--            "value" (most production for the ships and the way), "enemy"
--            (the planets of the strongest other player first)
--   send     the share of a planet's ships it sends, in percent
--   margin   how many times the defenders' ships it wants to send
--   sources  how many of its planets may send in one move
--   defend   true: first reinforce its own planets that incoming fleets would take
--   team     true: counts its team's fleets and joins the attacks they started

if type(mod_bots) ~= "table" then mod_bots = {list = {}} end

local bots = mod_bots
local floor, sqrt, random, huge = math.floor, math.sqrt, math.random, math.huge
local find, get, send = z2_items_find, z2_item_get, z2_fleet_send

local SPEED = 40 -- how far a fleet flies in a second

bots.levels = {
  {think = 7.0, aim = "near", send = 30, margin = 2.5, sources = 1},
  {think = 5.0, aim = "near", send = 40, margin = 2.0, sources = 1},
  {think = 4.0, aim = "weak", send = 50, margin = 1.7, sources = 1},
  {think = 3.0, aim = "weak", send = 50, margin = 1.5, sources = 1, defend = true},
  {think = 2.5, aim = "value", send = 60, margin = 1.4, sources = 1, defend = true},
  {think = 2.0, aim = "value", send = 60, margin = 1.3, sources = 2, defend = true},
  {think = 1.6, aim = "value", send = 65, margin = 1.25, sources = 2, defend = true, team = true},
  {think = 1.3, aim = "value", send = 70, margin = 1.2, sources = 3, defend = true, team = true},
  {think = 1.0, aim = "value", send = 75, margin = 1.15, sources = 3, defend = true, team = true},
  {think = 0.7, aim = "value", send = 80, margin = 1.1, sources = 4, defend = true, team = true},
}

bots.styles = {
  rusher = {think = 0.8, aim = "near", send = 40, margin = 1.1, sources = 2},
  turtle = {think = 2.5, aim = "weak", send = 70, margin = 2.0, sources = 1, defend = true},
  expander = {think = 1.2, aim = "value", send = 55, margin = 1.3, sources = 2, defend = true},
  hunter = {think = 1.2, aim = "enemy", send = 65, margin = 1.2, sources = 2, team = true},
}

function bots.difficulty(level)
  level = floor(tonumber(level) or 1)
  if level < 1 then level = 1 end
  if level > #bots.levels then level = #bots.levels end
  return bots.levels[level]
end

local function num(x)
  if type(x) == "table" then return x.n end
  return x
end

function bots.new(user, how)
  local base = how
  if type(how) == "string" then base = bots.styles[how] end
  if type(base) ~= "table" then base = bots.difficulty(how) end
  local b = {user = num(user)}
  for k, v in pairs(base) do b[k] = v end
  b.think = b.think or 2
  b.send = b.send or 50
  b.margin = b.margin or 1.5
  b.sources = b.sources or 1
  b.aim = b.aim or "near"
  -- Bots that start together do not all move on the same frame.
  b.wait = b.wait or b.think * (0.5 + random() * 0.5)
  bots.list[#bots.list + 1] = b
  return b
end

function bots.clear()
  bots.list = {}
end

-- ==== what a bot sees ===========================================================

-- Every planet and fleet as plain tables, read once for all bots moving now.
local function scan()
  local view = {planets = {}, users = {}, present = {}}
  local users = view.users
  for _, n in ipairs(find("user")) do view.present[n] = true end
  local function user(n)
    local u = users[n]
    if not u then
      u = {n = n, ships = 0, neutral = false, team = n}
      -- Owner 0 is nobody (the planets of a removed user): nothing to read,
      -- and asking would log a failure at every move.
      if view.present[n] then
        local ok, neutral = pcall(get, n, "user_neutral")
        u.neutral = ok and neutral or false
        local tok, team = pcall(get, n, "user_team_n")
        u.team = tok and team or n
      end
      users[n] = u
    end
    return u
  end
  local by_n = {}
  for _, n in ipairs(find("planet")) do
    local owner = get(n, "owner_n")
    local p = {
      n = n, owner = owner,
      x = get(n, "position_x"), y = get(n, "position_y"),
      ships = get(n, "ships_value"), prod = get(n, "ships_production"),
      grows = get(n, "ships_production_enabled"),
      coming = {}, -- owner -> ships flying here
    }
    local u = user(owner)
    u.ships = u.ships + p.ships
    view.planets[#view.planets + 1] = p
    by_n[n] = p
  end
  for _, n in ipairs(find("fleet")) do
    local p = by_n[get(n, "fleet_target")]
    if p then
      local owner = get(n, "owner_n")
      local ships = get(n, "fleet_ships")
      p.coming[owner] = (p.coming[owner] or 0) + ships
      local u = user(owner)
      u.ships = u.ships + ships
    end
  end
  return view
end

local function dist(a, b)
  local dx, dy = a.x - b.x, a.y - b.y
  return sqrt(dx * dx + dy * dy)
end

-- Ships flying to p from the bot's side (its own, or its team's when it
-- counts them) and from everybody else.
local function sides(view, bot, team, p)
  local ours, theirs = 0, 0
  for owner, ships in pairs(p.coming) do
    local u = view.users[owner]
    if owner == bot.user or (bot.team and u and u.team == team) then
      ours = ours + ships
    elseif owner ~= p.owner then
      theirs = theirs + ships
    end
  end
  return ours, theirs
end

-- ==== one move ==================================================================

-- Sends from the nearest planet with ships to spare to an own planet that
-- the fleets flying at it would take.
local function defend(view, bot, mine, spare)
  for _, p in ipairs(mine) do
    local ours, theirs = sides(view, bot, view.users[bot.user].team, p)
    local short = theirs - (p.ships + ours)
    if short > 0 then
      local from, near = nil, huge
      for _, q in ipairs(mine) do
        if q ~= p and spare[q] > short * 1.2 then
          local d = dist(p, q)
          if d < near then from, near = q, d end
        end
      end
      if from then
        local pct = floor(100 * short * 1.2 / from.ships) + 1
        if pct > 100 then pct = 100 end
        send(pct, from.n, p.n)
        spare[from] = spare[from] - from.ships * pct / 100
        return true
      end
    end
  end
  return false
end

-- The ships a planet will have when a fleet from `from` gets there.
local function defenders(view, bot, team, from, p)
  local ships = p.ships
  local u = view.users[p.owner]
  if p.grows and not (u and u.neutral) then ships = ships + p.prod * dist(from, p) / SPEED / 50 end
  local ours, theirs = sides(view, bot, team, p)
  return ships + theirs - ours
end

local function score(view, bot, from, p, need, strongest)
  local d = dist(from, p)
  if bot.aim == "weak" then return -need - d / 20 end
  if bot.aim == "value" then return (p.prod + 5) / (need + 10 + d / 4) end
  if bot.aim == "enemy" then
    local bonus = (p.owner == strongest) and 1000 or 0
    if view.users[p.owner] and not view.users[p.owner].neutral then bonus = bonus + 500 end
    return bonus - d
  end
  return -d
end

local function attack(view, bot, from, avail, strongest, team, joined)
  local best, best_score = nil, -huge
  for _, p in ipairs(view.planets) do
    local u = view.users[p.owner]
    local friend = p.owner == bot.user or (u and u.team == team and not u.neutral)
    if not friend then
      local need = defenders(view, bot, team, from, p)
      if need < 0 then need = 0 end
      if avail > (need + 1) * bot.margin then
        local s = score(view, bot, from, p, need, strongest)
        -- Joining an attack the team already started beats a new one.
        if bot.team and joined[p.n] then s = s + 1e6 end
        if s > best_score then best, best_score = p, s end
      end
    end
  end
  if best then
    local pct = floor(100 * avail / from.ships + 0.5)
    if pct < 1 then pct = 1 elseif pct > 100 then pct = 100 end
    send(pct, from.n, best.n)
    -- What this bot sent counts for the next source of the same move.
    best.coming[bot.user] = (best.coming[bot.user] or 0) + avail
    return true
  end
  return false
end

local function move(bot, view)
  -- A removed user's bot stops for good, as its slot may be another user's
  -- next; given another user, it plays that one.
  if bot.gone == bot.user or not view.present[bot.user] then
    bot.gone = bot.user
    return
  end
  local ok, team = pcall(get, bot.user, "user_team_n")
  if not ok then return end
  if not view.users[bot.user] then view.users[bot.user] = {n = bot.user, ships = 0, team = team} end
  local mine, spare = {}, {}
  for _, p in ipairs(view.planets) do
    if p.owner == bot.user then
      mine[#mine + 1] = p
      local ours, theirs = sides(view, bot, team, p)
      spare[p] = p.ships - (bot.defend and math.max(0, theirs - ours) or 0)
    end
  end
  if #mine == 0 then return end
  if bot.defend and defend(view, bot, mine, spare) then return end

  -- The strongest other side, for hunters.
  local strongest, most = nil, -1
  for n, u in pairs(view.users) do
    if n ~= bot.user and not u.neutral and u.team ~= team and u.ships > most then strongest, most = n, u.ships end
  end
  -- Planets the team is already attacking.
  local joined = {}
  if bot.team then
    for _, p in ipairs(view.planets) do
      for owner in pairs(p.coming) do
        local u = view.users[owner]
        if owner ~= bot.user and u and u.team == team and p.owner ~= owner then joined[p.n] = true end
      end
    end
  end

  table.sort(mine, function(a, b) return spare[a] > spare[b] end)
  for i = 1, bot.sources do
    local from = mine[i]
    if not from then break end
    local avail = spare[from] * bot.send / 100
    if avail >= 1 then attack(view, bot, from, avail, strongest, team, joined) end
  end
end

function bots.move(bot, view)
  move(bot, view or scan())
end

function bots.loop(t)
  local view = nil
  for _, bot in ipairs(bots.list) do
    bot.wait = bot.wait - (t or 0)
    if bot.wait <= 0 then
      bot.wait = bot.think
      view = view or scan()
      move(bot, view)
    end
  end
end
