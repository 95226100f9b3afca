-- mod_galaxy.lua: a galaxy host for online play.
--
--   zentar2 -headless -mod mod_galaxy.lua -port 7100 -match 127.0.0.1:7000
--
-- A player who joins sees the galaxy map: five stars joined by routes, with
-- a ship for every player here. Focusing a star offers "Play", which sends
-- the player to the match host that "-match" names (a host running
-- mod_server.lua, say); leaving that match brings them back to the map.
-- Pausing the map shows a page to resume, buy Zencoins or leave the galaxy.
-- Joins, plays and leaves go to the log.

local STARS = {
  {id = 1, name = "Aurel", x = 0, y = 0, size = 48, color = "ffd27a", routes = "2;3;4;5"},
  {id = 2, name = "Brisa", x = 330, y = -150, size = 36, color = "7ab8ff", routes = "3"},
  {id = 3, name = "Cendre", x = 130, y = 340, size = 30, color = "ff7a7a", routes = "4"},
  {id = 4, name = "Dorne", x = -310, y = 190, size = 40, color = "9aff7a", routes = "5"},
  {id = 5, name = "Esker", x = -220, y = -310, size = 28, color = "d08aff", routes = "2"},
}
local HOME = 1  -- where a new player's ship waits

-- The page over the paused map.
local PAUSE_PAGE = "<table class='box'><tr><td><h2>Galaxy</h2>" ..
  "<tr><td><input type='button' class='button1' onclick='map:resume' value='Resume' />" ..
  "<tr><td><input type='button' class='button1' onclick='iap' value='Buy Zencoins' />" ..
  "<tr><td><input type='button' class='button2' onclick='map:leave' value='Leave the galaxy' /></table>"

local players = {}     -- account id -> {name, star}
local star_by_id = {}
for _, s in ipairs(STARS) do star_by_id[s.id] = s end
local match_host, match_port

-- A text table: the column names, then one row per entry; "," and "`"
-- separate fields and rows, so they may not appear in a field.
local function rows(columns, list, row)
  local out = {table.concat(columns, ",")}
  for _, x in ipairs(list) do
    local fields = {}
    for i, v in ipairs(row(x)) do fields[i] = (string.gsub(tostring(v), "[,`]", " ")) end
    out[#out + 1] = table.concat(fields, ",")
  end
  return table.concat(out, "`")
end

local function map_data()
  local stars = rows({"id", "x", "y", "size", "color", "name", "label", "routes", "regions", "marker", "clans_id"},
    STARS, function(s) return {s.id, s.x, s.y, s.size, s.color, s.name, "", s.routes, "", "", 0} end)
  local here = {}
  for uid, p in pairs(players) do here[#here + 1] = {uid = uid, name = p.name, star = p.star} end
  table.sort(here, function(a, b) return a.uid < b.uid end)
  local users = rows({"id", "stars_id", "clans_id", "image", "color", "name"}, here,
    function(u) return {u.uid, u.star, 0, "ship", "ffffff", u.name} end)
  return json.encode({clans_id = 0, stars = stars, wars = "", users = users, clans = ""})
end

function init()
  -- A headless galaxy host with nobody on it is idle: in this state its
  -- loop waits for the network instead of running every frame.
  if z2_param_get("headless") then z2_param_set("state", "galaxy") end
  local match = tostring(z2_param_get("match") or "")
  match_host, match_port = string.match(match, "^([^:]+):(%d+)$")
  -- A port no client can join would send every player nowhere, with the
  -- map gone and nothing in the log.
  local n = tonumber(match_port)
  if not n or n < 1 or n > 65535 then
    match_host, match_port = nil, nil
    print("no match host: give -match HOST:PORT with a port from 1 to 65535 (got \"" .. match .. "\")")
  end
  local port = tonumber(z2_param_get("port")) or 0
  if port > 0 then
    local ok, err = pcall(z2_net_host, port)
    if ok then print("hosting on port " .. port) else print("not hosting: " .. tostring(err)) end
  else
    -- Nobody can reach it: a galaxy host has nothing else to do.
    print("not hosting: give -port PORT")
  end
end

function loop(t) end

function event(e)
  local uid, kind, value = e.uid or "", e.type, e.value
  local p = players[uid]
  if kind == "net:join" or kind == "net:rejoin" then
    players[uid] = {name = e.name or "", star = p and p.star or HOME}
    print("join: " .. tostring(e.name))
    z2_net_send(uid, "html", PAUSE_PAGE)
    z2_net_send(uid, "map:show", map_data())
  elseif kind == "net:leave" then
    players[uid] = nil
    print("leave: " .. tostring(e.name or uid))
  elseif not p then
    return
  elseif kind == "net:map:view" then
    local s = star_by_id[tonumber(value)]
    if s then
      z2_net_send(uid, "map:buttons", json.encode({{icon = "icon-play", label = "Play " .. s.name, onclick = "play"}}))
    end
  elseif kind == "net:play" then
    -- Once a visit: the player goes to the match, and a client that asks
    -- again and again would only fill the log.
    local s = star_by_id[tonumber(value)]
    if s and match_host and not p.sent then
      p.sent = true
      p.star = s.id
      print(string.format("play: %s at %s", p.name, s.name))
      z2_net_send(uid, "map:cleanup", "")
      z2_net_send(uid, "join", json.encode({host = match_host, port = tonumber(match_port), token = "",
                                            request = s.name}))
    end
  elseif kind == "net:map:leave" then
    z2_net_send(uid, "map:cleanup", "")
    z2_net_send(uid, "state", "quit")
  end
end
