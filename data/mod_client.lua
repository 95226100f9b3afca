-- mod_client.lua: join a match on the local network.
--
-- A page asks for the host's address and port. Join connects to a host that
-- runs mod_server.lua (headless, or started from the Mods screen of another
-- game), whose mod gives every player who joins a planet of their own. The
-- player plays it with the usual controls; every send goes through the host.
-- Escape or the pause icon pauses (the match goes on meanwhile) and the page
-- leads back to the match or to the menu. A player who has lost every planet
-- and fleet watches the rest of the match without the controls that send
-- ships, and plays again once the host gives them a planet (mod_match.follow).
-- A host that does not answer, turns the player away or goes away brings the
-- page back with a line that says so.

require("mod_match")

local PORT = 7000        -- where mod_server.lua hosts when started from the Mods screen
local ANSWER_WITHIN = 6  -- seconds to wait for a host before giving up on it

local host, port = "127.0.0.1", PORT
local phase = "page"     -- "page", "joining" or "playing"
local waited = 0
local admitted = false   -- the host's world holds a user of ours
local since = 0          -- seconds since then: our planet may come a moment after our user
local failure = nil      -- what the host said before it hung up
local NO_MATCH = nil     -- the status line while a host that answered gives us no user
local host_word = ""     -- the host's last line to every player (who won), until it sends another

local function trim(s) return (string.gsub(tostring(s or ""), "^%s*(.-)%s*$", "%1")) end

-- Text as it may stand in markup, inside a quoted value or between tags.
local function esc(s)
  s = string.gsub(tostring(s), "&", "&amp;")
  s = string.gsub(s, "<", "&lt;")
  s = string.gsub(s, ">", "&gt;")
  s = string.gsub(s, "'", "&apos;")
  return (string.gsub(s, '"', "&quot;"))
end

local function where() return host .. ":" .. port end

local function show_page(line)
  phase = "page"
  z2.html = table.concat({
    "<table>",
    "<tr><td align=left><h2 class='header'>Join a LAN match</h2></td>",
    "<tr><td><table class='box' width=300><tr><td><table>",
    "<tr><td width=90><p>Host</p><td><input type='text' name='host' value='", esc(host),
    "' width=190 maxlength=63 tabindex=10 />",
    "<tr><td width=90><p>Port</p><td><input type='text' name='port' value='", esc(port),
    "' width=190 maxlength=5 tabindex=20 />",
    "</table><tr><td><table><tr>",
    "<td><input type='button' name='join' value='Join' onclick='join' width=100 tabindex=30 />",
    "<td><input type='button' name='menu' value='Menu' onclick='menu' width=100 tabindex=40 />",
    "</table></table>",
    "<tr><td><p>&nbsp;</p>",
    "<tr><td><p width=300 align=center>", esc(line or ""), "</p>",
    "<tr><td><p>&nbsp;</p>",
    "<tr><td><p width=300 align=center>A host runs the 'server' mod of the Mods screen, ",
    "which hosts on port 7000.</p>",
    "</table>",
  })
  z2.state = "xtabs"
end

local function join()
  local typed_host, typed = trim(z2_gui_get("host")), trim(z2_gui_get("port"))
  local n = tonumber(typed)
  -- The second click of a double click, or another one while the host has
  -- not answered yet: a new join would hang up on the call under way and
  -- start it again. Another address is another call.
  if phase == "joining" and typed_host == host and n == port then return end
  host = typed_host
  if host == "" then return show_page("Type the address of the computer that hosts the match.") end
  if not n or n ~= math.floor(n) or n < 1 or n > 65535 then
    port = typed
    return show_page("The port is a whole number from 1 to 65535.")
  end
  port = n
  failure, admitted, waited = nil, false, 0
  if not pcall(z2.net_join, host, port) then return show_page("Cannot open a connection to " .. where() .. ".") end
  show_page("Calling " .. where() .. " ...")
  phase = "joining"
end

-- The pause page the other match mods show, with this match's own lines.
local function pause_page()
  z2.html = mod_match.page("Paused",
    {"Connected to " .. esc(where()) .. ".", "The match goes on while you are away."},
    {{"Back to the match", "resume", "resume"}, {"Leave to the menu", "menu", "menu"}})
end

function init()
  host = trim(z2.host) ~= "" and trim(z2.host) or host
  port = tonumber(z2.port) or port
  z2.remove_quit = false
  show_page("")
end

function loop(t)
  if phase == "joining" then
    waited = waited + t
    if waited > ANSWER_WITHIN then
      show_page("No answer from " .. where() .. ". Is the host running there, and is the address right?")
    end
  elseif phase == "playing" then
    -- Our user in the host's world: the play screen marks it each frame.
    local me = mod_match.me()
    if me and not admitted then
      admitted, since = true, 0
      if z2.status == NO_MATCH then z2.status = "" end
    end
    if admitted then
      since = since + t
      if since > 1 then
        mod_match.follow(me)
        -- Put out as the match is won (the record that does it may come in
        -- the frame of the host's line, or after it): who won is the news.
        if host_word ~= "" and z2.status ~= host_word then z2.status = host_word end
      end
    else
      -- A host that runs no match (a galaxy host, say) never gives us a
      -- user: an empty sky with no word would leave the player guessing.
      waited = waited + t
      if waited > ANSWER_WITHIN and z2.status ~= NO_MATCH then z2.status = NO_MATCH end
    end
  end
end

function event(e)
  local kind, value = e.type, e.value
  if kind == "onclick" and value == "join" then
    join()
  elseif kind == "onclick" and value == "menu" then
    z2.state = "quit"
  elseif kind == "net:connect" then
    -- A host that answers late is still welcome.
    phase, admitted, waited, host_word = "playing", false, 0, ""
    NO_MATCH = "The host at " .. where() .. " gives no planet here: it runs no LAN match. Escape for the menu."
    mod_match.play()
  elseif kind == "net:error" then
    failure = tostring(value or "")
  elseif kind == "net:disconnect" then
    if phase == "page" then
      return  -- an attempt given up on already: the page says so
    elseif failure then
      show_page("The host at " .. where() .. " runs another version of the game: " .. failure .. ".")
    elseif phase == "joining" then
      show_page("Cannot reach " .. where() .. ": check the address.")
    elseif admitted then
      show_page("Lost the connection to " .. where() .. ".")
    else
      show_page("The host at " .. where() .. " closed the connection before the match began.")
    end
  elseif kind == "net:status" and phase == "playing" then
    -- The host's word to every player (who won, say): it goes to the chat
    -- too, but the chat starts closed.
    host_word = tostring(value or "")
    z2.status = host_word
    -- Cleared at a new match or planet: if we only watch, the follow says
    -- so again, as it does for a new connection.
    if host_word == "" then mod_match.watching, mod_match.played = false, nil end
  elseif kind == "net:chat" then
    local ok, line = pcall(json.decode, tostring(value or ""))
    if ok and type(line) == "table" then
      z2.chat_append(tonumber(line.color) or 0xffffff, tostring(line.value or ""), tonumber(line.bgcolor) or 0)
    end
  elseif kind == "pause" then
    pause_page()
  elseif (kind == "back" and z2.state == "pause") or (kind == "onclick" and value == "resume") then
    mod_match.resume()
  elseif kind == "back" and phase ~= "playing" then
    z2.state = "quit"
  end
end
