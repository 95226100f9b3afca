-- mod_match.lua: the pieces the match mods here share.
--
--   require("mod_match")                -- defines the global table mod_match
--                                       -- (and mod_bots, which it requires)
-- Setting up a match:
--   mod_match.new_match()               -- empties the world and forgets the bots;
--                                       -- returns the neutral user that owns the
--                                       -- unclaimed planets (they do not grow)
--   mod_match.new_player(color)         -- the user of the player at this screen,
--                                       -- under their name ("You" without one)
--   mod_match.new_bot(name, color, how, team)
--                                       -- a user played by a bot of mod_bots (how:
--                                       -- its level, style or settings); returns
--                                       -- the user and the bot
--   mod_match.scatter(owner, count, x, y, w, h, prod, ships)
--                                       -- count planets at random places; prod and
--                                       -- ships are {low, high}; returns their numbers
-- Running it:
--   mod_match.loop(t, check, every)     -- call from loop(t): while the match runs,
--                                       -- its clock (mod_match.clock), the bots, and
--                                       -- check() every `every` seconds (0.25)
--   mod_match.event(e, actions)         -- the usual answers to pause, resume and the
--                                       -- page's buttons (below)
--   mod_match.tally()                   -- per user: planets, ships, fleets (below)
--   mod_match.alive(tally, user)        -- true while the user owns a planet or a fleet
--   mod_match.sides(tally)              -- the teams still in the game, and how many
--   mod_match.outcome(tally, me, foes)  -- "lost" when me is out, "won" when every
--                                       -- user in the list foes is out, else nil
-- Showing it:
--   mod_match.page(title, lines, buttons)
--                                       -- markup for a page: a title, lines of text and
--                                       -- buttons {label, action[, name]}; a click on one
--                                       -- sends the mod {type = "onclick", value = action}
--   mod_match.play(line)                -- the match with the controls that send ships
--   mod_match.watch(line)               -- the match without them, for a player who is
--                                       -- out or only watches; the line says so
--   mod_match.resume()                  -- back to whichever of the two was shown
--   mod_match.finish(title, lines, buttons)
--                                       -- the match is over: its page in a dialog
--   mod_match.me()                      -- the user the play screen marks as the
--                                       -- player's own (a host gives it), or nil
--   mod_match.follow(me)                -- from loop(t) in network play: watches while
--                                       -- me owns nothing, plays once it owns a planet
--
-- tally() returns {[user number] = {planets = n, ships = n, fleets = n,
-- team = n, neutral = bool}} for every user that owns a planet or a fleet;
-- a side is out of the game when it has neither.
--
-- mod_match.phase is "play" while the match runs (watched or played) and
-- "over" once finish() was called; mod_match.watching is true while the
-- match is shown without its controls.

require("mod_bots")

if type(mod_match) ~= "table" then mod_match = {} end

local M = mod_match
local find, get = z2_items_find, z2_item_get
local random, floor = math.random, math.floor

-- The lines that tell a player they are out, and how to leave.
M.OUT = "You are out: you have no planets and no fleets left."
M.WATCHING = "You are out: watching the match. Escape for the menu."
M.NO_SEAT = "No planet is free for you: watching the match. Escape for the menu."

M.phase = M.phase or "over" -- no match before the first new_match()
M.watching = M.watching or false
M.clock = M.clock or 0

-- ==== setting up ==================================================================

function M.new_match()
  z2.game_reset()
  mod_bots.clear()
  M.phase, M.watching, M.clock, M.check_at, M.played = "play", false, 0, 0, nil
  local neutral = z2_user_init("neutral", 0x808080, 0)
  z2_item_set(neutral, "ships_production_enabled", false)
  return neutral
end

function M.new_player(color)
  local name = tostring(z2.name or "")
  if name == "" then name = "You" end
  -- A user named "neutral" would be the neutral side: the player keeps the
  -- name as their title only.
  local u = z2_user_init(name == "neutral" and "" or name, color or 0x3080ff, 0)
  if name == "neutral" then z2_item_set(u, "title_value", name) end
  return u
end

function M.new_bot(name, color, how, team)
  local u = z2_user_init(name, color, team or 0)
  z2_item_set(u, "has_bot", true)
  return u, mod_bots.new(u, how)
end

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

-- ==== running it ==================================================================

function M.loop(t, check, every)
  if M.phase == "over" then return end
  M.clock = M.clock + t
  mod_bots.loop(t)
  if check and M.clock >= (M.check_at or 0) then
    M.check_at = M.clock + (every or 0.25)
    check()
  end
end

-- actions.pause() gives the pause page's markup; actions.over() runs when
-- the player goes back from the page of a match that is over (without it
-- they leave); actions[value]() runs for a click on any other button.
function M.event(e, actions)
  local v = e.value
  if e.type == "pause" then
    if actions.pause then z2.html = actions.pause() end
  elseif e.type == "back" or (e.type == "onclick" and v == "resume") then
    if M.phase ~= "over" then
      M.resume()
    elseif actions.over then
      actions.over()
    else
      z2.state = "quit"
    end
  elseif e.type == "onclick" then
    if v == "menu" then
      z2.state = "quit"
    elseif actions[v] then
      actions[v](v)
    end
  end
end

function M.tally()
  local t = {}
  local function of(u)
    local s = t[u]
    if not s then
      s = {planets = 0, ships = 0, fleets = 0, team = u, neutral = false}
      if u ~= 0 then  -- 0 owns what a removed user left: nothing to read
        local ok, team = pcall(get, u, "user_team_n")
        s.team = ok and team or u
        local nok, neutral = pcall(get, u, "user_neutral")
        s.neutral = nok and neutral or false
      end
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

function M.alive(tally, u)
  local s = tally[u]
  return s ~= nil and (s.planets > 0 or s.fleets > 0)
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

function M.outcome(tally, me, foes)
  if not M.alive(tally, me) then return "lost" end
  for _, u in ipairs(foes) do
    if M.alive(tally, u) then return nil end
  end
  return "won"
end

-- ==== showing it ==================================================================

function M.page(title, lines, buttons)
  local m = {"<table>"}
  if title and title ~= "" then m[#m + 1] = "<tr><td><h1>" .. title .. "</h1>" end
  for _, line in ipairs(lines or {}) do m[#m + 1] = "<tr><td><p>" .. line .. "</p>" end
  for _, b in ipairs(buttons or {}) do
    local name = b[3] and (" name='" .. b[3] .. "'") or ""
    m[#m + 1] = "<tr><td><input type='button'" .. name .. " value='" .. b[1] .. "' onclick='" .. b[2] ..
      "' width=240 />"
  end
  m[#m + 1] = "</table>"
  return table.concat(m)
end

-- "play" shows the percentage slider and lets the player select and send;
-- "scene" shows the match and its status line only.
function M.play(line)
  -- A new match or connection: whoever had a planet before is forgotten,
  -- as a user item's number comes round again.
  M.watching, M.played = false, nil
  if line then z2.status = line end
  z2.state = "play"
end

function M.watch(line)
  M.watching = true
  z2.status = line or M.WATCHING
  z2.state = "scene"
end

function M.resume()
  z2.state = M.watching and "scene" or "play"
end

function M.finish(title, lines, buttons)
  M.phase = "over"
  z2.status = title
  z2.html = M.page(title, lines, buttons)
  z2.state = "dialog"
end

function M.me()
  for _, u in ipairs(find("user")) do
    if get(u, "has_player") then return u end
  end
  return nil
end

-- Only the match screens change: a pause page stays up, and the match
-- shows the right one when the player comes back to it.
function M.follow(me)
  if me == nil then return end
  local out = not M.alive(M.tally(), me)
  -- One who joined a full match never had a planet: not "out".
  if not out then M.played = me end
  if out ~= M.watching then
    M.watching = out
    if out then
      z2.status = M.played == me and M.WATCHING or M.NO_SEAT
    elseif z2.status == M.WATCHING or z2.status == M.NO_SEAT then
      z2.status = ""
    end
  end
  if z2.state == "play" or z2.state == "scene" then M.resume() end
end
