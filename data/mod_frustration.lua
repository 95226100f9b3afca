-- mod_frustration.lua: "The Needle", one hand-made map that is meant to
-- hurt. A wall of heavy neutral planets stands between you and the twins, a
-- pair of sharp bots who fight as one. One planet in the wall is weaker than
-- the rest and builds ships fast; your fleets are slow, and you start with
-- little. Find the order of moves that works.
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
local tries = 0

local function start()
  tries = tries + 1
  local neutral = mod_match.new_match()
  me = mod_match.new_player()
  z2_item_set(me, "fleet_v_factor", 0.75) -- your fleets crawl
  local team = z2_team_init("Twins", 0xff5040)
  local owners = {you = me}
  twins = {}
  for _, t in ipairs({{"castor", "Castor", 0xff5040}, {"pollux", "Pollux", 0xff8060}}) do
    local u = mod_match.new_bot(t[2], t[3],
      {think = 1.5, aim = "weak", send = 60, margin = 1.6, sources = 2, defend = true, team = true}, team)
    owners[t[1]] = u
    twins[#twins + 1] = u
  end
  for _, p in ipairs(MAP) do
    z2_planet_init(owners[p[5]] or neutral, p[1], p[2], p[3], p[4])
  end
  z2.view_set(0, 0, W, H)
  z2.player = me
  mod_match.play("The Needle - attempt " .. tries)
end

local function check()
  local result = mod_match.outcome(mod_match.tally(), me, twins)
  if result == "won" then
    mod_match.finish("You threaded the needle!", {"in " .. tries .. (tries == 1 and " attempt" or " attempts")},
      {{"Try again", "again"}, {"Menu", "menu"}})
  elseif result == "lost" then
    mod_match.finish("Frustrating, isn't it?", {mod_match.OUT, "Again?"}, {{"Try again", "again"}, {"Menu", "menu"}})
  end
end

function init()
  start()
end

function loop(t)
  mod_match.loop(t, check)
end

function event(e)
  mod_match.event(e, {
    pause = function()
      return mod_match.page("Paused", {"The Needle - attempt " .. tries},
        {{"Back to the match", "resume"}, {"Start over", "again"}, {"Menu", "menu"}})
    end,
    again = start,
  })
end
