-- mod_server.lua: a small match for a dedicated host.
--
--   zentar2 -headless -mod mod_server.lua -port 7000
--
-- Three bots fight over a field of neutral planets. With a port the match is
-- hosted, and every player who joins gets a user of their own and a neutral
-- planet to start from. Without one (or when hosting fails) the bots play on
-- alone. "-frames N" ends the run after N frames. Captures, joins and wins go
-- to the log. Players may come from a galaxy host (mod_galaxy.lua).

require("mod_bots")

local W, H = 640, 400          -- the field
local NEUTRAL_PLANETS = 12
local THINK = 0.75             -- seconds between two moves of a bot
local REMATCH = 3              -- seconds between a win and the next match

local BOTS = {
  {name = "Vega", color = 0xff5040},
  {name = "Rigel", color = 0x40a0ff},
  {name = "Deneb", color = 0x50e060},
}
local PLAYER_COLORS = {0xffd040, 0xd060ff, 0x40e0e0, 0xff80b0, 0xa0a0ff, 0xffa040}

local neutral          -- the owner of unclaimed planets
local bots             -- the bots of this match (mod_bots)
local players          -- account id -> user, this match
local connected = {}   -- account id -> name, across matches
local player_count = 0
local names            -- user -> name, for the log
local planets          -- every planet, in creation order
local owners           -- planet -> owner seen last
local frames = 0
local frame_limit = 0
local rematch_at       -- match clock of the next match after a win
local clock = 0

local function owner_of(p) return z2_item_get(p, "owner_n") end
local function ships_of(p) return z2_item_get(p, "ships_value") end

local function distance(a, b)
  local dx = z2_item_get(a, "position_x") - z2_item_get(b, "position_x")
  local dy = z2_item_get(a, "position_y") - z2_item_get(b, "position_y")
  return math.sqrt(dx * dx + dy * dy)
end

local function new_user(name, color)
  local u = z2_user_init(name, color, 0)
  names[u] = name
  return u
end

local player_join

local function new_match()
  z2_game_reset()
  bots, players, names, planets, owners = {}, {}, {}, {}, {}
  mod_bots.clear()
  rematch_at = nil

  neutral = new_user("neutral", 0x808080)
  -- Unclaimed planets hold what they start with.
  z2_item_set(neutral, "ships_production_enabled", false)
  for i = 1, NEUTRAL_PLANETS do
    local p = z2_planet_init(neutral, math.random(0, W), math.random(0, H),
                             math.random(15, 60), math.random(5, 25))
    planets[#planets + 1] = p
  end
  for i, b in ipairs(BOTS) do
    local u = new_user(b.name, b.color)
    z2_item_set(u, "has_bot", true)
    local p = z2_planet_init(u, math.random(0, W), math.random(0, H), 100, 60)
    planets[#planets + 1] = p
    -- The fullest planet attacks the nearest one that half its ships can take.
    bots[#bots + 1] = mod_bots.new(u, {think = THINK, wait = THINK * i / #BOTS, aim = "near", send = 50,
                                       margin = 1, sources = 1})
  end
  z2_planets_settle(0, 0, W, H)
  z2_view_set(0, 0, W, H)
  for _, p in ipairs(planets) do owners[p] = owner_of(p) end
  print(string.format("match: %d planets, %d bots", #planets, #bots))
  for uid, name in pairs(connected) do player_join(uid, name) end
end

-- Logs every planet that changed hands since the last frame; a winner is
-- the one owner left holding every planet.
local function watch_owners()
  local first, alone = nil, true
  for _, p in ipairs(planets) do
    local o = owner_of(p)
    if o ~= owners[p] then
      print(string.format("capture: planet %d by %s from %s", p, names[o] or tostring(o),
                          names[owners[p]] or tostring(owners[p])))
      owners[p] = o
    end
    if first == nil then first = o elseif o ~= first then alone = false end
  end
  if alone and first ~= neutral and not rematch_at then
    print("winner: " .. (names[first] or tostring(first)))
    rematch_at = clock + REMATCH
  end
end

-- A joining player gets the unclaimed planet with the fewest ships; one
-- who comes back keeps what is left of theirs.
player_join = function(uid, name)
  connected[uid] = name
  -- An online client shows whatever state its host names.
  z2_net_send(uid, "state", "play")
  if players[uid] then
    print("rejoin: " .. name)
    return
  end
  player_count = player_count + 1
  local u = new_user(name, PLAYER_COLORS[(player_count - 1) % #PLAYER_COLORS + 1])
  z2_item_set(u, "user_uid", uid)
  players[uid] = u
  local pick, least = nil, math.huge
  for _, p in ipairs(planets) do
    if owner_of(p) == neutral and ships_of(p) < least then pick, least = p, ships_of(p) end
  end
  if pick then
    z2_planet_chown(pick, u)
    z2_item_set(pick, "ships_value", 50)
    owners[pick] = u
    print(string.format("join: %s gets planet %d", name, pick))
  else
    print("join: " .. name .. " watches, no planet left")
  end
end

function init()
  frame_limit = tonumber(z2_param_get("frames")) or 0
  new_match()
  z2_param_set("state", "play")
  local port = tonumber(z2_param_get("port")) or 0
  if port > 0 then
    local ok, err = pcall(z2_net_host, port)
    if ok then print("hosting on port " .. port) else print("not hosting: " .. tostring(err)) end
  end
end

function loop(t)
  frames = frames + 1
  clock = clock + t
  if frame_limit > 0 and frames >= frame_limit then
    print(string.format("stopping after %d frames", frames))
    z2_param_set("state", "quit")
    return
  end
  if rematch_at then
    if clock >= rematch_at then new_match() end
    return
  end
  watch_owners()
  mod_bots.loop(t)
end

function event(e)
  if e.type == "net:join" or e.type == "net:rejoin" then
    player_join(e.uid or "", e.name or "")
  elseif e.type == "net:leave" then
    connected[e.uid or ""] = nil
    print("leave: " .. tostring(e.name or e.uid))
  elseif e.type == "net:message" then
    -- A line a player typed: every player sees it in their chat.
    local line = tostring(e.name or e.uid or "?") .. ": " .. tostring(e.value or "")
    print("chat: " .. line)
    z2_chat_append(0xffffff, line, 0)
    z2_net_send("", "chat", json.encode({uid = e.uid or "", value = line, color = 0xffffff, bgcolor = 0}))
  end
end
