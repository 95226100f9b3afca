-- mod_frustration.lua: "The Needle", one hand-made map that is meant to
-- hurt. A wall of heavy neutral planets stands between you and the twins, a
-- pair of sharp bots who fight as one. One planet in the wall is weaker than
-- the rest and builds ships fast; your fleets are slow, and you start with
-- little. Find the order of moves that works.
require("mod_bots")
require("mod_match")

local W, H = 720, 440

-- x, y, production, ships, owner ("you", "castor", "pollux" or neutral).
local MAP = {
  {60, 220, 100, 30, "you"},
  {150, 110, 20, 8}, {150, 330, 20, 8},
  -- the wall, with the needle in the middle
  {330, 50, 40, 60}, {330, 135, 40, 45}, {330, 220, 100, 26}, {330, 305, 40, 45}, {330, 390, 40, 60},
  {520, 60, 30, 15}, {520, 380, 30, 15}, {560, 220, 80, 30},
  {650, 120, 50, 35, "castor"}, {650, 320, 50, 35, "pollux"},
}

local me, twins
local phase, clock, check_at, tries = "play", 0, 0, 0

local function start()
  tries = tries + 1
  z2.game_reset()
  mod_bots.clear()
  local neutral = z2_user_init("neutral", 0x808080, 0)
  z2_item_set(neutral, "ships_production_enabled", false)
  local name = tostring(z2.name or "")
  me = z2_user_init(name ~= "" and name or "You", 0x3080ff, 0)
  z2_item_set(me, "fleet_v_factor", 0.75) -- your fleets crawl
  local team = z2_team_init("Twins", 0xff5040)
  local owners = {you = me}
  twins = {}
  for _, t in ipairs({{"castor", "Castor", 0xff5040}, {"pollux", "Pollux", 0xff8060}}) do
    local u = z2_user_init(t[2], t[3], team)
    z2_item_set(u, "has_bot", true)
    mod_bots.new(u, {think = 1.5, aim = "weak", send = 60, margin = 1.6, sources = 2, defend = true, team = true})
    owners[t[1]] = u
    twins[#twins + 1] = u
  end
  for _, p in ipairs(MAP) do
    z2_planet_init(owners[p[5]] or neutral, p[1], p[2], p[3], p[4])
  end
  z2.view_set(0, 0, W, H)
  z2.player = me
  phase, clock, check_at = "play", 0, 1
  z2.status = "The Needle - attempt " .. tries
  z2.state = "play"
end

local function show_end(victory)
  phase = "over"
  local title = victory and "You threaded the needle!" or "Frustrating, isn't it?"
  local line = victory and ("in " .. tries .. (tries == 1 and " attempt" or " attempts")) or "Again?"
  z2.status = title
  z2.html = mod_match.page(title, {line}, {{"Try again", "again"}, {"Menu", "menu"}})
  z2.state = "dialog"
end

local function check()
  local result = mod_match.outcome(mod_match.tally(), me, twins)
  if result then show_end(result == "won") end
end

function init()
  start()
end

function loop(t)
  if phase ~= "play" then return end
  clock = clock + t
  mod_bots.loop(t)
  if clock >= check_at then
    check_at = clock + 0.25
    check()
  end
end

function event(e)
  local v = e.value
  if e.type == "pause" then
    z2.html = mod_match.page("Paused", {"The Needle - attempt " .. tries},
      {{"Back to the match", "resume"}, {"Start over", "again"}, {"Menu", "menu"}})
  elseif e.type == "back" or (e.type == "onclick" and v == "resume") then
    if phase == "over" then z2.state = "quit" else z2.state = "play" end
  elseif e.type == "onclick" then
    if v == "again" then start() elseif v == "menu" then z2.state = "quit" end
  end
end
