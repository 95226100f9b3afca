-- mod_turns.lua: the match in turns. On your turn the field stands still:
-- drag to plan up to three sends, then press END TURN. The bots plan
-- theirs, and the field runs for four seconds before the next turn.
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
  local neutral = mod_match.new_match()
  me = mod_match.new_player()
  z2_planet_init(me, W * 0.1, H * 0.5, 100, 50)
  foes, bots = {}, {}
  for i, b in ipairs(BOTS) do
    -- Turn bots move when told to, with up to SENDS sources a turn.
    local u, bot = mod_match.new_bot(b[1], b[2],
      {think = 1e9, aim = "value", send = 60, margin = 1.3, sources = SENDS, defend = true})
    z2_planet_init(u, W * 0.9, H * (i == 1 and 0.2 or 0.8), 100, 50)
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
  mod_match.play()
  plan()
end

-- True when the match is over (and its dialog shown).
local function over()
  local result = mod_match.outcome(mod_match.tally(), me, foes)
  if not result then return false end
  phase = "over"
  z2.speed = 1
  local buttons = {{"Play again", "again"}, {"Menu", "menu"}}
  if result == "won" then
    mod_match.finish("Victory!", {"after " .. turn .. " turns"}, buttons)
  else
    mod_match.finish("Defeated", {mod_match.OUT, "after " .. turn .. " turns"}, buttons)
  end
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
    if not over() then count_sends() end
  elseif phase == "run" then
    run_left = run_left - t
    status()
    if run_left <= 0 and not over() then plan() end
  end
end

function event(e)
  if e.type == "ui:up" and e.value == "end" and phase == "plan" then
    z2.play_sound("sfx-click")
    run()
  else
    mod_match.event(e, {
      pause = function()
        return mod_match.page("Paused", {"Turn " .. turn},
          {{"Back to the match", "resume"}, {"Restart", "again"}, {"Menu", "menu"}})
      end,
      again = start,
    })
  end
end
