-- mod_play.lua: the online play client. The host decides every screen, page,
-- chat line and sound; this script joins it, forwards the player's clicks and
-- typed lines, and maps each host message onto a parameter or an API call.

require("mod_map")

strict(true)
global("GAME")

local find, sub, gsub, lower = string.find, string.sub, string.gsub, string.lower

GAME = {
  engine = nil,
  modules = {},
  module = nil,
  host = "",
  port = 0,
  token = "",
  session = "",
  state = "menu",
  error = false,
  ihtml = "<p>ihtml</p>",
  color = nil,
  galaxy = true,
  connected = false,  -- the host of this connection answered its challenge
  lost = false,       -- the page that says the host is gone is up
  chat_enabled = nil,
  ads_ready = nil,
}

-- Parameters and event values as text; nothing gives the empty text.
local function text(v)
  if v == nil then return "" end
  if v == true then return "True" end
  if v == false then return "False" end
  return tostring(v)
end

local function starts(s, prefix)
  return type(s) == "string" and sub(s, 1, #prefix) == prefix
end

function play_send(kind, value)
  z2_net_send(text(z2.server), text(kind), text(value))
end

-- {$name} becomes the form value of the widget of that name.
function play_form(value)
  return (gsub(text(value), "{%$(%w+)}", function(name)
    local ok, v = pcall(z2_gui_get, name)
    if not ok then return "" end
    return text(v)
  end))
end

local function connect_prepare()
  if GAME.error then return end
  GAME.chat_enabled = nil
  GAME.ads_ready = nil
  z2.status = ""
  z2.html = ""
  GAME.color = nil
  GAME.lost = false
end

local function join(host, port, token)
  GAME.connected = false
  -- An endpoint that cannot even start (a port past 16 bits) is a lost
  -- connection: back to the galaxy, or out of it.
  if not pcall(z2.net_join, text(host), tonumber(port) or 0, text(token)) then
    play_leave()
    return
  end
  z2_net_send("", "opts", text(z2.gsize))
  z2_net_send("", "cookie", text(z2.data))
  z2_net_send("", "session", text(GAME.session))
  z2_net_send("", "vinfo", text(z2.vinfo))
end

function play_leave()
  if GAME.error then return end
  connect_prepare()
  if GAME.galaxy then
    z2.state = "quit"
  else
    GAME.galaxy = true
    join(GAME.host, GAME.port, GAME.token)
    z2.quit = false
  end
end

-- The host is gone (killed, stopped, cut off) or never answered: nobody is
-- left to decide the screen, so say so here and let the player go on, back
-- to the galaxy from a match, out of online play from the galaxy.
local function host_gone()
  if GAME.error then return end
  local what = GAME.connected and "Lost the connection to the host." or "Could not reach the host."
  local go = GAME.galaxy and "Back to the menu" or "Back to the galaxy"
  GAME.lost = true
  z2.status = ""
  z2.state = "menu"
  z2.html = "<table class='box'><tr><td><p width=300 align=center>" .. what .. "</p>" ..
    "<tr><td><input type='button' class='button1' onclick='leave' value='" .. go .. "' /></table>"
end

local function join_match(host, port, token, request)
  connect_prepare()
  GAME.galaxy = false
  join(host, port, token)
  z2_net_send("", "request", text(request))
end

-- The line the player typed, shown the way the host will show it to others.
local function echo(line)
  line = gsub(text(line), "^%s+", "")
  line = gsub(line, "%s+$", "")
  if sub(line, 1, 1) == "." then line = "/" .. sub(line, 2) end
  if line == "" then return end
  local name = text(z2.name)
  if sub(line, 1, 4) == "/me " then
    z2.chat_append(GAME.color, name .. sub(line, 4))
    return
  end
  if sub(line, 1, 1) == "/" then return end
  if find(line, "^[mtcbrMTCBR]%s") then return end
  z2.chat_append(GAME.color, "<" .. name .. "> " .. line)
end

-- "*cmd\tvalue" or "*!cmd\tvalue" (waiting: shows the holding markup).
local function command(value)
  local s = sub(value, 2)
  local waiting = false
  if sub(s, 1, 1) == "!" then
    waiting = true
    s = sub(s, 2)
  end
  local kind, v = s, ""
  local tab = find(s, "\t", 1, true)
  if tab then
    kind = sub(s, 1, tab - 1)
    v = sub(s, tab + 1)
  end
  v = play_form(v)
  if waiting then z2.html = GAME.ihtml end
  play_send(kind, v)
end

local function json_decode(v)
  local ok, r = pcall(json.decode, text(v))
  if ok and type(r) == "table" then return r end
  return nil
end

local function rect(v, f)
  local r = json_decode(v)
  if r and tonumber(r[1]) and tonumber(r[2]) and tonumber(r[3]) and tonumber(r[4]) then
    f(r[1], r[2], r[3], r[4])
  end
end

local ext_events = {
  ["net:ads:init"] = "zentar2:ads:init",
  ["net:ads:show"] = "zentar2:ads:show",
  ["net:ext:invite"] = "zentar2:ext:invite",
  ["net:ext:share"] = "zentar2:ext:share",
}

local params_events = {
  ["net:html"] = "html", ["net:xhtml"] = "xhtml", ["net:status"] = "status", ["net:tabs"] = "tabs",
}

-- ==== modules ===================================================================

local client = {}

function client.init()
  GAME.state = "menu"
  GAME.error = false
  GAME.ihtml = "<p>ihtml</p>"
end

function client.loop(t)
  local chat = text(z2.chat_enabled)
  if chat ~= GAME.chat_enabled then
    GAME.chat_enabled = chat
    play_send("chat:enabled", chat)
  end
  local ads = text(z2.ads_ready)
  if ads ~= GAME.ads_ready then
    GAME.ads_ready = ads
    play_send("ads:ready", ads)
  end
end

function client.event(e)
  local kind, value = e.type, e.value
  local state = text(z2.state)
  local click = kind == "onclick" or kind == "onchange"
  if kind == "net:disconnect" then
    host_gone()
  elseif kind == "net:map:show" then
    if map_data_init(value) then GAME.engine.next(GAME.modules.map) end
  elseif kind == "quit" and z2.quit == true and (GAME.lost or (state ~= "tabs" and state ~= "menu")) then
    play_leave()
  elseif kind == "back" and state ~= "lobby" and state ~= "pause" then
    play_send("stack:back", "")
  elseif kind == "back" and state == "pause" then
    z2.state = GAME.state
  elseif kind == "message" and GAME.color ~= nil then
    echo(value)
  elseif kind == "net:color" then
    GAME.color = tonumber(value)
  elseif kind == "net:state" then
    z2.state = text(value)
    GAME.state = text(value)
  elseif kind == "net:chat" then
    local c = json_decode(value)
    if c then
      local msg = text(c.value)
      if text(c.uid) ~= text(z2.uid) and GAME.chat_enabled == "1"
          and find(lower(msg), lower(text(z2.name)), 1, true) then
        z2.play_sound("sfx-ping")
      end
      z2.chat_append(tonumber(c.color) or 0, msg, tonumber(c.bgcolor) or 0)
    end
  elseif kind == "net:keywords" then
    z2.chat_keywords(text(value))
  elseif kind == "net:sound" then
    z2.play_sound(text(value))
  elseif kind == "net:music" then
    z2.play_music(text(value))
  elseif kind == "net:view" then
    rect(value, z2.view_set)
  elseif kind == "net:clip" then
    rect(value, z2.clip_set)
  elseif kind == "net:message" then
    z2.chat_append(0x555555, text(value))
  elseif kind == "net:connect" then
    GAME.connected = true
  elseif kind == "net:ext:rank" then
    z2_ext_call("zentar2:rank", text(value))
  elseif click and starts(value, "join:") then
    local p = {}
    for piece in string.gmatch(sub(value, 6), "[^:]+") do p[#p + 1] = piece end
    join_match(p[1], p[2], p[3], p[4])
  elseif kind == "net:join" then
    local j = json_decode(value)
    if j then join_match(j.host, j.port, j.token, j.request) end
  elseif kind == "net:error" then
    GAME.error = true
    z2.state = "menu"
    z2.html = "<p>" .. text(value) .. "</p>"
  elseif kind == "pause" then
    z2.state = "pause"
  elseif params_events[kind] then
    z2[params_events[kind]] = text(value)
  elseif kind == "net:ihtml" then
    GAME.ihtml = text(value)
  elseif kind == "onclick" and value == "resume" then
    z2.state = GAME.state
  elseif kind == "onclick" and value == "leave" then
    play_leave()
  elseif kind == "onclick" and value == "iap" then
    z2_ext_call("zentar2:iap", "")
  elseif ext_events[kind] then
    z2_ext_call(ext_events[kind], text(value))
  elseif kind == "suspend" or kind == "resume" then
    play_send(kind, "")
  elseif kind == "onclick" and (starts(value, "http:") or starts(value, "https:")) then
    z2_ext_call("zentar2:open_url", value)
  elseif click and starts(value, "/") then
    play_send("message", play_form(value))
    z2.state = GAME.state
  elseif click and starts(value, "*") then
    command(value)
  end
end

local cookie = {}
function cookie.init() end
function cookie.loop(t) end
function cookie.event(e)
  local kind = e.type
  if kind == "net:cookie:get" then
    play_send("cookie", text(z2.data))
  elseif kind == "net:cookie:set" then
    z2.data = e.value
  elseif kind == "net:session:get" then
    play_send("session", GAME.session)
  elseif kind == "net:session:set" then
    GAME.session = text(e.value)
  end
end

-- ==== engine ====================================================================

local engine = {}

function engine.next(m)
  GAME.module = m
  m.init()
end

function engine.init()
  z2.tab = "play"
  GAME.host = text(z2.host)
  GAME.port = tonumber(z2.port) or 0
  GAME.token = text(z2.token)
  connect_prepare()
  GAME.galaxy = true
  join(GAME.host, GAME.port, GAME.token)
  engine.next(client)
end

function engine.loop(t)
  if GAME.module then GAME.module.loop(t) end
end

function engine.event(e)
  if e.type == "net:module" then
    local m = GAME.modules[text(e.value)]
    if m and m ~= GAME.module then engine.next(m) end
  end
  cookie.event(e)
  if GAME.module then GAME.module.event(e) end
end

GAME.engine = engine
GAME.modules.client = client
GAME.modules.cookie = cookie
GAME.modules.map = map_module(client)

function init() engine.init() end
function loop(t) engine.loop(t) end
function event(e) engine.event(e) end
