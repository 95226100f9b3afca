-- mod_practice.lua: the practice ladder. Twelve levels against bots on
-- generated maps, each harder than the last: more and smarter bots, fewer
-- neutral planets, bigger maps. Started with first=1 it opens with the first
-- level as a short lesson; otherwise with a picker of the levels reached.
--
-- Progress is the stored data of this mod ("mod_practice.bin"), the JSON
-- {"rank": levels won + 1}; the main menu reads it to tell a new player
-- from one who has played.

require("mod_match")

local LEVELS = {
  -- w, h: the map; bots: how many, at which bot level; neutrals: how many,
  -- with how many ships; you, them: production and ships of the home planets;
  -- team: the bots fight as one team; boost: the bots' production factor;
  -- near: the rival lives closer than the far edge; reveal: the rival's ship
  -- counts show, as a new player's own do; tip: the new idea of the level,
  -- told in the status line.
  {name = "First contact", w = 420, h = 280, bots = 1, level = 1, neutrals = 4, nships = {5, 10},
   you = {100, 50}, them = {30, 15}, near = true, reveal = true},
  {name = "Room to grow", w = 560, h = 360, bots = 1, level = 1, neutrals = 6, nships = {5, 15},
   you = {100, 40}, them = {50, 25}, reveal = true,
   tip = "Big planets make ships faster: take them first."},
  {name = "A real rival", w = 600, h = 380, bots = 1, level = 2, neutrals = 7, nships = {5, 20},
   you = {100, 40}, them = {70, 30}, reveal = true,
   tip = "A planet you empty is easy to take: keep some ships at home."},
  {name = "In the dark", w = 640, h = 400, bots = 1, level = 3, neutrals = 8, nships = {5, 25},
   you = {100, 40}, them = {80, 35},
   tip = "Rival ship counts are hidden now: judge by planet size and fleets."},
  {name = "Two at once", w = 640, h = 420, bots = 2, level = 3, neutrals = 8, nships = {8, 25},
   you = {100, 45}, them = {60, 30},
   tip = "Two rivals fight each other too: let them, and take what they leave."},
  {name = "Crossfire", w = 720, h = 450, bots = 2, level = 4, neutrals = 8, nships = {10, 30},
   you = {100, 45}, them = {90, 40},
   tip = "These rivals defend: send enough to take a planet at once."},
  {name = "Watchful", w = 800, h = 500, bots = 2, level = 5, neutrals = 7, nships = {10, 30},
   you = {100, 50}, them = {100, 50},
   tip = "These rivals go for the planets worth most: guard your big ones."},
  {name = "Three kings", w = 820, h = 520, bots = 3, level = 6, neutrals = 7, nships = {10, 35},
   you = {100, 45}, them = {100, 45}},
  {name = "The pact", w = 880, h = 560, bots = 3, level = 7, neutrals = 6, nships = {10, 35},
   you = {100, 50}, them = {100, 45}, team = true,
   tip = "The rivals are one team now: they join each other's attacks."},
  {name = "Closing ranks", w = 940, h = 600, bots = 3, level = 8, neutrals = 6, nships = {12, 40},
   you = {100, 50}, them = {100, 50}, team = true},
  {name = "Iron tide", w = 1000, h = 640, bots = 4, level = 9, neutrals = 5, nships = {12, 40},
   you = {100, 60}, them = {100, 50}, team = true, boost = 1.15,
   tip = "The rivals' planets make ships faster than yours."},
  {name = "Last stand", w = 1120, h = 720, bots = 5, level = 10, neutrals = 3, nships = {15, 45},
   you = {100, 70}, them = {100, 60}, team = true, boost = 1.3},
}

local BOTS = {
  {"Vega", 0xff5040}, {"Rigel", 0xffc030}, {"Deneb", 0x50e060},
  {"Altair", 0xc060ff}, {"Sirius", 0xff9030},
}

local LESSON = {
  "Drag from your planet (YOU) to a grey planet to send ships there.",
  "The slider on the right sets how many of a planet's ships you send.",
  "Now drag from one of your planets to the red one. Take it to win!",
}

local rank = 1       -- levels won + 1, as stored
local level = 1      -- the level being played or last played
local lesson = 0     -- the lesson step shown, 0 when there is no lesson
local lesson_at = 0  -- when that step began
local me, foes       -- the player's user; the bots' users

-- ==== progress ===================================================================

local function load_rank()
  local ok, doc = pcall(json.decode, z2.data)
  local r = ok and type(doc) == "table" and tonumber(doc.rank) or 1
  if r ~= r then r = 1 end -- nan (JSON lets it through) would lock every level
  r = math.floor(r)
  if r < 1 then r = 1 end
  if r > #LEVELS + 1 then r = #LEVELS + 1 end
  return r
end

local function won(n)
  if n + 1 > rank then
    rank = n + 1
    z2.data = json.encode({rank = rank})
  end
end

-- ==== pages ======================================================================

local function show_levels()
  z2.status = ""
  local m = {"<table><tr><td><h1>Practice</h1><tr><td><p>Pick a level. Win one to open the next.</p>",
             "<tr><td><table>"}
  for i, lv in ipairs(LEVELS) do
    if (i - 1) % 3 == 0 then m[#m + 1] = "<tr>" end
    if i <= rank then
      m[#m + 1] = "<td><input type='button' value='" .. i .. ". " .. lv.name .. "' onclick='level:" .. i ..
                  "' width=190 />"
    else
      m[#m + 1] = "<td><input type='button' class='list1' value='" .. i .. ". locked' onclick='locked' width=190 />"
    end
  end
  m[#m + 1] = "</table><tr><td><input type='button' value='Menu' onclick='menu' width=190 /></table>"
  z2.html = table.concat(m)
  z2.state = "menu"
end

local function title(n) return "Level " .. n .. ": " .. LEVELS[n].name end

local function show_end(victory)
  local buttons = {}
  local lines
  if victory then
    local nxt = LEVELS[level + 1]
    if nxt then
      lines = {title(level + 1) .. " is open."}
      if nxt.tip then lines[2] = nxt.tip end
      buttons[1] = {"Next level", "next"}
    else
      lines = {"You have beaten the whole ladder."}
    end
  else
    lines = {mod_match.OUT, title(level) .. " was too much this time."}
  end
  buttons[#buttons + 1] = {"Retry", "retry"}
  buttons[#buttons + 1] = {"Levels", "levels"}
  buttons[#buttons + 1] = {"Menu", "menu"}
  mod_match.finish(victory and "Victory!" or "Defeated", lines, buttons)
end

-- ==== a level ====================================================================

local function start(n)
  level = n
  local lv = LEVELS[n]
  math.randomseed(1000 + n)
  local neutral = mod_match.new_match()
  me = mod_match.new_player()
  local team = lv.team and z2_team_init("Armada", 0xff5040) or 0

  local W, H = lv.w, lv.h
  local home = z2_planet_init(me, W * 0.12, H * 0.5, lv.you[1], lv.you[2])
  foes = {}
  for i = 1, lv.bots do
    local u = mod_match.new_bot(BOTS[i][1], BOTS[i][2], lv.level, team)
    if lv.reveal then z2_item_set(u, "user_reveal", true) end
    if lv.boost then z2_item_set(u, "ships_production_factor", lv.boost) end
    local x = lv.near and 0.72 or 0.88 - 0.05 * ((i + 1) % 2)
    z2_planet_init(u, W * x, H * i / (lv.bots + 1), lv.them[1], lv.them[2])
    foes[#foes + 1] = u
  end
  mod_match.scatter(neutral, lv.neutrals, W * 0.25, H * 0.08, W * 0.5, H * 0.84, {15, 60}, lv.nships)
  z2.planets_settle(0, 0, W, H)
  z2.view_set(0, 0, W, H)
  z2.player = me

  lesson = (n == 1 and (tonumber(z2.first) or 0) == 1) and 1 or 0
  lesson_at = 0
  if lesson > 0 then
    local you = z2.new_label("YOU", z2_item_get(home, "position_x"), z2_item_get(home, "position_y") - 40, 0xffffff)
    you.label_align = 0
    mod_match.play(LESSON[1])
  elseif lv.tip then
    mod_match.play("Level " .. n .. ": " .. lv.tip) -- a tip fits a small screen's status line
  else
    mod_match.play(title(n) .. " - take every planet of your rivals.")
  end
end

-- The lesson moves on when the player has sent ships, then once a planet
-- was taken; each line stays long enough to be read.
local function lesson_loop(tally)
  local mine = tally[me] or {planets = 0, fleets = 0}
  local clock = mod_match.clock
  local shown = clock - lesson_at
  if lesson == 1 and mine.fleets > 0 then
    lesson, lesson_at = 2, clock
  elseif lesson == 2 and shown > 6 and (mine.planets > 1 or shown > 15) then
    lesson, lesson_at = 3, clock
  end
  z2.status = LESSON[lesson]
end

local function check()
  local tally = mod_match.tally()
  if lesson > 0 then lesson_loop(tally) end
  local result = mod_match.outcome(tally, me, foes)
  if result == "won" then won(level) end
  if result then show_end(result == "won") end
end

-- ==== entry points ===============================================================

function init()
  rank = load_rank()
  if (tonumber(z2.first) or 0) == 1 then
    start(1)
  else
    level = math.min(rank, #LEVELS)
    show_levels()
  end
end

function loop(t)
  mod_match.loop(t, check)
end

function event(e)
  local v = e.value
  if e.type == "onclick" and type(v) == "string" and v:sub(1, 6) == "level:" then
    local n = tonumber(v:sub(7))
    if n and n >= 1 and n <= math.min(rank, #LEVELS) then start(n) end
    return
  end
  mod_match.event(e, {
    pause = function()
      return mod_match.page("Paused", {title(level)},
        {{"Back to the match", "resume"}, {"Retry", "retry"}, {"Levels", "levels"}, {"Menu", "menu"}})
    end,
    over = show_levels,
    retry = function() start(level) end,
    next = function() start(math.min(level + 1, #LEVELS)) end,
    levels = show_levels,
  })
end
