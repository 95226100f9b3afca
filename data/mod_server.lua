-- mod_server.lua: a small match for a dedicated host.
--
--   zentar2 -headless -mod mod_server.lua -port 7000
--
-- Three bots fight over a field of neutral planets. With a port the match is
-- hosted, and every player who joins gets a user of their own and a neutral
-- planet to start from. Without one (or when hosting fails) the bots play on
-- alone. A player who leaves keeps what they hold for AWAY seconds; then it
-- goes back to the field. "-frames N" ends the run after N frames. Captures,
-- joins and wins go to the log. Players may come from a galaxy host
-- (mod_galaxy.lua).
--
-- Started from the Mods screen it hosts on port 7000 and the player at the
-- screen joins too, like any other player; when the port is taken they play
-- against the bots alone. Escape or the pause icon pauses (the match goes on
-- for the others) and the page leads back to the match or to the menu. A
-- player who has lost every planet and fleet watches the rest of the match
-- (mod_match.follow); every player hears who won before the next begins.

require("mod_match")

local W, H = 640, 400          -- the field
local NEUTRAL_PLANETS = 12
local THINK = 0.75             -- seconds between two moves of a bot
local REMATCH = 3              -- seconds between a win and the next match
local FLEET_WAIT = 30          -- seconds a lone owner waits for the others' fleets (a crossing takes 19)
local PORT = 7000              -- hosted on from the Mods screen, which gives no port
local LOCAL_UID = "local"      -- the player at the screen when nothing is hosted
local CHAT_CHARS = 255         -- a typed line is cut to what the chat entry takes
local CHAT_BURST = 5           -- lines a player may type at once,
local CHAT_RATE = 1            -- and then this many a second
local AWAY = 60                -- seconds a player who left keeps their planets

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
local watchers         -- account id -> true: joined this match when no planet was left
local away             -- account id -> match clock when a player with a user left
local freed            -- account id -> true: an away player's planets went back to the field
local away_look = 0    -- match clock of the next look at them
local names            -- user -> name, for the log
local planets          -- every planet, in creation order
local owners           -- planet -> owner seen last
local frames = 0
local frame_limit = 0
local rematch_at       -- match clock of the next match after a win
local alone_since      -- match clock since one owner holds every planet
local clock = 0
local wanted_port      -- the port hosting was tried on
local hosted_port      -- nil while not hosting
local at_screen        -- a player sits at this screen
local follow_at = 0    -- match clock of the next look at that player
local chat_room = {}   -- account id -> {lines it may still type now, clock then, dropping}

-- At a screen the log lines would keep the mod console's band up over the
-- match, so there they are dropped (init); a headless host logs them all.
local print = print

local function owner_of(p) return z2_item_get(p, "owner_n") end
local function ships_of(p) return z2_item_get(p, "ships_value") end

local function distance(a, b)
  local dx = z2_item_get(a, "position_x") - z2_item_get(b, "position_x")
  local dy = z2_item_get(a, "position_y") - z2_item_get(b, "position_y")
  return math.sqrt(dx * dx + dy * dy)
end

-- A player's user under the name they chose. The world makes a user named
-- "neutral" the side that owns the unclaimed planets: its planets look
-- unclaimed, their counts show to all, and the bots and the tally take it
-- for nobody. A player of that name keeps it as their title only.
local function new_user(name, color)
  local u = z2_user_init(name == "neutral" and "" or name, color, 0)
  if name == "neutral" then z2_item_set(u, "title_value", name) end
  names[u] = name
  return u
end

-- The colour of a newcomer: the first of PLAYER_COLORS that the fewest
-- players of this match wear. Counted by joins, the seventh account to come
-- got the colour of the first even while a free one was left, and a client
-- that joined and left under other ids could make its planets look like
-- another player's.
local function player_color()
  local worn = {}
  for _, u in pairs(players) do
    local ok, c = pcall(z2_item_get, u, "render_color")
    if ok then worn[c] = (worn[c] or 0) + 1 end
  end
  local pick, least = PLAYER_COLORS[1], math.huge
  for _, c in ipairs(PLAYER_COLORS) do
    if (worn[c] or 0) < least then pick, least = c, worn[c] or 0 end
  end
  return pick
end

local player_join

-- What an online player's pause shows: their client shows the pages its
-- host sends, and without one the pause was an empty screen. (The LAN
-- client has a pause page of its own and ignores this one.)
local NET_PAUSE_PAGE = table.concat({
  "<table>",
  "<tr><td><h2 class='header'>Paused</h2>",
  "<tr><td><p>&nbsp;</p>",
  "<tr><td><p width=300 align=center>The match goes on while you are away.</p>",
  "<tr><td><p>&nbsp;</p>",
  "<tr><td><input type='button' name='resume' value='Back to the match' onclick='resume' width=200 />",
  "<tr><td><input type='button' name='leave' value='Leave the match' onclick='leave' width=200 />",
  "</table>",
})

local function new_match()
  -- Unclaimed planets hold what they start with.
  neutral = mod_match.new_match()
  bots, players, planets, owners, watchers, away, freed = {}, {}, {}, {}, {}, {}, {}
  names = {[neutral] = "neutral"}
  rematch_at, alone_since = nil, nil
  if at_screen then z2_param_set("status", "") end
  -- The last match's winner is old news, also to one who only watches this
  -- one (no planet left for them): they hear nothing else that clears it.
  z2_net_send("", "status", "")
  for i = 1, NEUTRAL_PLANETS do
    local p = z2_planet_init(neutral, math.random(0, W), math.random(0, H),
                             math.random(15, 60), math.random(5, 25))
    planets[#planets + 1] = p
  end
  for i, b in ipairs(BOTS) do
    -- The fullest planet attacks the nearest one that half its ships can take.
    local u, bot = mod_match.new_bot(b.name, b.color, {think = THINK, wait = THINK * i / #BOTS, aim = "near",
                                                       send = 50, margin = 1, sources = 1})
    names[u] = b.name
    local p = z2_planet_init(u, math.random(0, W), math.random(0, H), 100, 60)
    planets[#planets + 1] = p
    bots[#bots + 1] = bot
  end
  z2_planets_settle(0, 0, W, H)
  z2_view_set(0, 0, W, H)
  for _, p in ipairs(planets) do owners[p] = owner_of(p) end
  print(string.format("match: %d planets, %d bots", #planets, #bots))
  for uid, name in pairs(connected) do player_join(uid, name) end
end

-- A line in every player's chat, and on this screen's status line. An
-- online client shows the status line its host sends: with its chat closed
-- (as it starts), the chat alone left it a new map with no word on who won.
local function tell(line)
  z2_chat_append(0xffd040, line, 0)
  z2_net_send("", "chat", json.encode({uid = "", value = line, color = 0xffd040, bgcolor = 0}))
  z2_net_send("", "status", line)
  if at_screen then z2_param_set("status", line) end
end

-- Logs every planet that changed hands since the last frame; a winner is
-- the one owner left holding every planet, with no other side's fleet still
-- flying: such a fleet may yet land and take a planet, after the match was
-- given away over its head. A fleet turned again and again never lands, so
-- that wait ends after FLEET_WAIT seconds.
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
  if not alone or first == neutral then alone_since = nil end
  if alone and first ~= neutral and not rematch_at then
    alone_since = alone_since or clock
    if clock - alone_since < FLEET_WAIT then
      for _, f in ipairs(z2_items_find("fleet")) do
        if owner_of(f) ~= first then return end
      end
    end
    local winner = names[first] or tostring(first)
    print("winner: " .. winner)
    rematch_at = clock + REMATCH
    tell(winner .. " wins! The next match begins in " .. REMATCH .. " seconds.")
  end
end

-- A typed line as the chat shows it: control characters become blanks and
-- it is cut to CHAT_CHARS characters (whole UTF-8 sequences).
local function chat_text(text)
  text = string.gsub(text, "%c", " ")
  local count = 0
  for at in string.gmatch(text, "()[^\128-\191]") do
    count = count + 1
    if count > CHAT_CHARS then return string.sub(text, 1, at - 1) end
  end
  return text
end

-- The allowance of a player who left goes once it has filled up again.
-- Dropped as they left, it gave one who typed too fast a fresh burst for
-- every time they left and joined again.
local function chat_rooms_sweep()
  for uid, room in pairs(chat_room) do
    if not connected[uid] and room.left + (clock - room.at) * CHAT_RATE >= CHAT_BURST then
      chat_room[uid] = nil
    end
  end
end

-- Whether a player may type another line now: a few at once, then
-- CHAT_RATE a second. A player who types faster has the rest dropped, with
-- one log line for each such spell, so nobody fills every chat and the log.
local function chat_allowed(uid, name)
  local room = chat_room[uid]
  if not room then
    chat_rooms_sweep()
    room = {left = CHAT_BURST, at = clock}
    chat_room[uid] = room
  end
  room.left = math.min(CHAT_BURST, room.left + (clock - room.at) * CHAT_RATE)
  room.at = clock
  if room.left >= 1 then
    room.left = room.left - 1
    room.dropping = false
    return true
  end
  if not room.dropping then
    room.dropping = true
    print("chat: lines from " .. name .. " dropped, typed faster than " .. CHAT_RATE .. " a second")
  end
  return false
end

-- A joining player gets the unclaimed planet with the fewest ships that no
-- fleet flies to; one who comes back keeps what is left of theirs. One whose
-- planets went back to the field while a fleet of theirs still flew has only
-- that fleet: they join afresh with the user they still have.
player_join = function(uid, name)
  -- The name every player sees on the planets, in the log and in the line
  -- that tells who won: a client's control characters would break them
  -- up into lines.
  name = chat_text(name)
  connected[uid] = name
  -- An online client shows whatever state and pages its host names.
  z2_net_send(uid, "state", "play")
  z2_net_send(uid, "html", NET_PAUSE_PAGE)
  local u = players[uid]
  if u then
    local released = freed[uid]
    away[uid], freed[uid] = nil, nil
    if not released then
      print("rejoin: " .. name)
      return
    end
  else
    u = new_user(name, player_color())
    z2_item_set(u, "user_uid", uid)
    players[uid] = u
  end
  -- Not one a fleet flies to: the weakest unclaimed planet is what the
  -- bots go for, and a player given it would lose it on arrival, a moment
  -- after joining. Only when every one is aimed at does that not count.
  local aimed = {}
  for _, f in ipairs(z2_items_find("fleet")) do aimed[z2_item_get(f, "fleet_target")] = true end
  local pick, least, fallback, fallback_least = nil, math.huge, nil, math.huge
  for _, p in ipairs(planets) do
    if owner_of(p) == neutral then
      local ships = ships_of(p)
      if not aimed[p] and ships < least then pick, least = p, ships end
      if ships < fallback_least then fallback, fallback_least = p, ships end
    end
  end
  pick = pick or fallback
  if uid == LOCAL_UID then z2_param_set("player", u) end
  if pick then
    z2_planet_chown(pick, u)
    z2_item_set(pick, "ships_value", 50)
    owners[pick] = u
    print(string.format("join: %s gets planet %d", name, pick))
  else
    watchers[uid] = true
    print("join: " .. name .. " watches, no planet left")
  end
end

-- A watcher's user goes with them: an account id is whatever a client
-- names, and users of ids that came and went would fill the world until
-- no fleet could be launched.
local function player_leave(uid)
  if not watchers[uid] then
    if players[uid] then away[uid] = clock end
    return
  end
  local u = players[uid]
  watchers[uid], players[uid] = nil, nil
  if u then
    names[u] = nil
    z2_item_destroy(u)
  end
end

-- A player away for AWAY seconds gives their planets back to the field.
-- Kept, they would grow without end with nobody to send their ships, the
-- bots (which attack only what they can take) would leave them be, and the
-- match would never end: everybody who joined later only watched. Their
-- user goes once its last fleet has landed; back later, they join afresh.
local function release_away()
  if clock < away_look then return end
  away_look = clock + 1
  local tally
  for uid, left in pairs(away) do
    local u = players[uid]
    if clock - left >= AWAY and u then
      for _, p in ipairs(planets) do
        if owner_of(p) == u then z2_planet_chown(p, neutral) end
      end
      freed[uid] = true
      tally = tally or mod_match.tally()
      if not tally[u] or tally[u].fleets == 0 then
        print("away: " .. tostring(names[u]) .. "'s planets go back to the field")
        away[uid], freed[uid], players[uid], names[u] = nil, nil, nil, nil
        z2_item_destroy(u)
      end
    end
  end
end

local function pause_page()
  local line
  if hosted_port then
    line = "Hosting on port " .. hosted_port .. ": players on your network join with the 'client' mod " ..
           "and this computer's address. The match goes on while you are away."
  else
    line = "Port " .. tostring(wanted_port) .. " is taken, so nobody can join: you play against the bots alone."
  end
  return table.concat({
    "<table>",
    "<tr><td><h2 class='header'>Paused</h2>",
    "<tr><td><p>&nbsp;</p>",
    "<tr><td><p width=300 align=center>", line, "</p>",
    "<tr><td><p>&nbsp;</p>",
    "<tr><td><input type='button' value='Back to the match' onclick='resume' width=200 />",
    "<tr><td><input type='button' value='Leave to the menu' onclick='menu' width=200 />",
    "</table>",
  })
end

function init()
  frame_limit = tonumber(z2_param_get("frames")) or 0
  at_screen = not z2_param_get("headless")
  if at_screen then print = function() end end
  new_match()
  z2_param_set("state", "play")
  local port = tonumber(z2_param_get("port")) or 0
  if port <= 0 and at_screen then port = PORT end
  if port > 0 then
    wanted_port = port
    local ok, err = pcall(z2_net_host, port)
    if ok then
      hosted_port = port
      print("hosting on port " .. port)
    else
      print("not hosting: " .. tostring(err))
    end
  end
  if at_screen then
    -- Through our own host like everybody else; its join gives the planet.
    if not (hosted_port and pcall(z2_net_join, "", hosted_port)) then player_join(LOCAL_UID, "You") end
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
  release_away()
  -- The player at this screen: out of the match, or back in the next. Told
  -- before who won: put out as the match is won, that line is the news.
  if at_screen and clock >= follow_at then
    follow_at = clock + 0.25
    mod_match.follow(mod_match.me())
  end
  watch_owners()
  mod_bots.loop(t)
end

function event(e)
  if e.type == "pause" then
    z2_param_set("html", pause_page())
  elseif (e.type == "back" and z2_param_get("state") == "pause") or
         (e.type == "onclick" and e.value == "resume") then
    mod_match.resume()
  elseif e.type == "onclick" and e.value == "menu" then
    z2_param_set("state", "quit")
  elseif e.type == "net:join" or e.type == "net:rejoin" then
    player_join(e.uid or "", e.name or "")
  elseif e.type == "net:leave" then
    connected[e.uid or ""] = nil
    player_leave(e.uid or "")
    chat_rooms_sweep()
    print("leave: " .. tostring(e.name or e.uid))
  elseif e.type == "net:message" then
    -- A line a player typed: every player sees it in their chat.
    -- A blank line (Return pressed on an empty entry) says nothing: it would
    -- only push the real lines out of everybody's chat.
    local text = chat_text(tostring(e.value or ""))
    if not string.find(text, "%S") then return end
    local name = chat_text(tostring(e.name or e.uid or "?"))
    if not chat_allowed(e.uid or "", name) then return end
    local line = name .. ": " .. text
    print("chat: " .. line)
    z2_chat_append(0xffffff, line, 0)
    z2_net_send("", "chat", json.encode({uid = e.uid or "", value = line, color = 0xffffff, bgcolor = 0}))
  end
end
