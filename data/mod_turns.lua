-- mod_turns.lua: the match in turns. On your turn the field stands still:
-- drag to plan up to three sends, then press END TURN. The bots plan
-- theirs, and the field runs for four seconds before the next turn.
require("mod_bots")
require("mod_match")

local W, H = 720, 440
local SENDS = 3      -- sends a side may plan in one turn
local RUN = 4        -- seconds the field runs between two turns
local BOTS = {{"Vega", 0xff5040}, {"Rigel", 0xffc030}}

local me, foes, bots
local phase          -- "plan", "run", "over"
local turn, sends_left, run_left
local my_fleets      -- fleets of the player seen so far
local button, button_label

local function status()
  if phase == "plan" then
    z2.status = "Turn " .. turn .. ": plan " .. sends_left .. (sends_left == 1 and " send" or " sends") ..
                " - drag from your planets, then END TURN"
  elseif phase == "run" then
    z2.status = string.format("Turn %d: the fleets fly (%.1f s)", turn, math.max(0, run_left))
  end
end

-- Drags only send while the player plans: a user whose aim mask is 0 can
-- pick no target.
local function plan()
  phase = "plan"
  turn = turn + 1
  sends_left = SENDS
  -- The field stands still while planning, so every fleet number not
  -- seen now is a new send.
  my_fleets = {}
  for _, f in ipairs(z2_items_find("fleet")) do my_fleets[f] = true end
  z2.speed = 0
  z2_item_set(me, "ui_to_mask", 15)
  button.render_alpha = 255
  button_label.render_alpha = 255
  status()
end

local function run()
  phase = "run"
  z2_item_set(me, "ui_to_mask", 0)
  button.render_alpha = 80
  button_label.render_alpha = 80
  for _, b in ipairs(bots) do mod_bots.move(b) end
  run_left = RUN
  z2.speed = 1
  status()
end

local function start()
  z2.game_reset()
  mod_bots.clear()
  local neutral = z2_user_init("neutral", 0x808080, 0)
  z2_item_set(neutral, "ships_production_enabled", false)
  local name = tostring(z2.name or "")
  me = z2_user_init(name ~= "" and name or "You", 0x3080ff, 0)
  z2_planet_init(me, W * 0.1, H * 0.5, 100, 50)
  foes, bots = {}, {}
  for i, b in ipairs(BOTS) do
    local u = z2_user_init(b[1], b[2], 0)
    z2_item_set(u, "has_bot", true)
    z2_planet_init(u, W * 0.9, H * (i == 1 and 0.2 or 0.8), 100, 50)
    -- Turn bots move when told to, with up to SENDS sources a turn.
    local bot = mod_bots.new(u, {think = 1e9, aim = "value", send = 60, margin = 1.3, sources = SENDS, defend = true})
    bots[#bots + 1] = bot
    foes[#foes + 1] = u
  end
  mod_match.scatter(neutral, 12, W * 0.2, H * 0.05, W * 0.6, H * 0.9, {15, 80}, {5, 35})
  z2.planets_settle(0, 0, W, H)
  -- Room under the field for the button.
  z2.view_set(0, 0, W, H + 50)
  button = z2.new_image("white", W / 2 - 70, H + 8, 140, 34)
  button.render_color = 0x3060a0
  button.has_button = true
  button.button_name = "end"
  button_label = z2.new_label("END TURN", W / 2, H + 25, 0xffffff)
  button_label.label_align = 0
  button_label.label_valign = 0
  z2.player = me
  turn = 0
  z2.state = "play"
  plan()
end

local function show_end(victory)
  phase = "over"
  z2.speed = 1
  local title = victory and "Victory!" or "Defeated"
  z2.status = title
  z2.html = mod_match.page(title, {"after " .. turn .. " turns"}, {{"Play again", "again"}, {"Menu", "menu"}})
  z2.state = "dialog"
end

-- True when the match is over (and its dialog shown).
local function over()
  local tally = mod_match.tally()
  local mine = tally[me]
  if not mine or (mine.planets == 0 and mine.fleets == 0) then
    show_end(false)
    return true
  end
  for _, u in ipairs(foes) do
    local s = tally[u]
    if s and (s.planets > 0 or s.fleets > 0) then return false end
  end
  show_end(true)
  return true
end

-- A fleet of the player that was not there before is one planned send.
local function count_sends()
  for _, f in ipairs(z2_items_find("fleet owner:" .. me)) do
    if not my_fleets[f] then
      my_fleets[f] = true
      sends_left = sends_left - 1
      status()
    end
  end
  if sends_left <= 0 then run() end
end

function init()
  start()
end

function loop(t)
  if phase == "plan" then
    count_sends()
  elseif phase == "run" then
    run_left = run_left - t
    status()
    if run_left <= 0 and not over() then plan() end
  end
end

function event(e)
  local v = e.value
  if e.type == "ui:up" and v == "end" and phase == "plan" then
    z2.play_sound("sfx-click")
    run()
  elseif e.type == "pause" then
    z2.html = mod_match.page("Paused", {"Turn " .. turn},
      {{"Back to the match", "resume"}, {"Restart", "again"}, {"Menu", "menu"}})
  elseif e.type == "back" or (e.type == "onclick" and v == "resume") then
    if phase == "over" then z2.state = "quit" else z2.state = "play" end
  elseif e.type == "onclick" then
    if v == "again" then start() elseif v == "menu" then z2.state = "quit" end
  end
end
