-- mod_about.lua: the credits, rising slowly over a quiet match. Escape or a
-- click closes them; so does their end.
require("mod_bots")
require("mod_match")

local W, H = 800, 600
local RISE = 35 -- units per second

-- A line starting with "#" is a heading; an empty line is a gap.
local CREDITS = {
  "#Design and programming", "Oren Talvik", "",
  "#Art and interface", "Mira Castellane", "",
  "#Music", "Jonas Helder", "",
  "#Sound effects", "Pia Rendall", "",
  "#Server and web services", "Dario Vennet", "",
  "#Mod tools and scripting", "Kell Ashbury", "",
  "#Community", "Sanne Olofsdottir", "",
  "#Testing", "Ravi Menon, Tomas Brandt, Ilse Varga", "",
  "#Special thanks to everyone", "#who backed Zentar 2", "",
  "#Grand Admirals", "Lukas Fenwright", "Amara Osei", "Henrik Stahl", "",
  "#Admirals", "Noor Haddad", "Bea Lindqvist", "Caspar Moreau", "Dana Whitcombe", "",
  "#Captains", "Elif Kaya", "Finn Gallagher", "Greta Novak", "Hugo Marchetti", "Isak Berg", "Jade Okafor", "",
  "#Pilots", "Kai Nakamura, Lena Fischer, Milo Duarte", "Nadia Petrova, Oscar Lund, Paula Ruiz",
  "Quinn Barlow, Rosa Ibarra, Sven Aalto", "",
  "And to every commander", "who ever sent a fleet", "",
  "#Thank you for playing!", "",
  "Made with SDL, Lua and ENet", "",
  "See you among the stars",
}

local lines = {}     -- {item, y}
local closing = false

local function close()
  if closing then return end
  closing = true
  z2.state = "quit"
end

function init()
  z2.game_reset()
  mod_bots.clear()
  math.randomseed(3)
  -- The quiet match: two sleepy bots and a few grey planets.
  local grey = z2_user_init("neutral", 0x808080, 0)
  z2_item_set(grey, "ships_production_enabled", false)
  for i, c in ipairs({0x3080ff, 0xff5040}) do
    local u = z2_user_init(i == 1 and "Blue" or "Red", c, 0)
    z2_planet_init(u, i == 1 and W * 0.15 or W * 0.85, H * 0.5, 60, 20)
    mod_bots.new(u, {think = 9, aim = "near", send = 30, margin = 2, sources = 1})
  end
  mod_match.scatter(grey, 6, W * 0.1, H * 0.1, W * 0.8, H * 0.8, {15, 60}, {10, 30})
  z2_planets_settle(0, 0, W, H)
  z2.view_set(0, 0, W, H)
  z2.player = 0

  local y = H + 30
  local logo = z2.new_image("logo", W / 2 - 140, y, 280, 67)
  lines[#lines + 1] = {item = logo, y = y}
  y = y + 100
  for _, text in ipairs(CREDITS) do
    if text ~= "" then
      local heading = text:sub(1, 1) == "#"
      if heading then text = text:sub(2) end
      local l = z2.new_label(text, W / 2, y, heading and 0xffd040 or 0xffffff)
      l.label_align = 0
      l.label_size = heading and 24 or 20
      lines[#lines + 1] = {item = l, y = y}
    end
    y = y + 30
  end
  z2.status = "Escape or a click closes the credits"
  z2.state = "scene"
end

function loop(t)
  if closing then return end
  mod_bots.loop(t)
  local last = nil
  for _, l in ipairs(lines) do
    l.y = l.y - RISE * t
    l.item.position_y = l.y
    last = l.y
  end
  if last and last < -40 then close() end
end

function event(e)
  -- Escape in a scene arrives as "pause"; a dialog's Escape as "resume".
  if e.type == "ui:up" or e.type == "pause" or e.type == "back" or (e.type == "onclick" and e.value == "resume") then
    close()
  end
end
