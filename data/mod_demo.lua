-- mod_demo.lua: the quiet map behind the main menu. Its state names no
-- screen, so the menu stays in front.
local W, H = 800, 600

function init()
  z2_param_set("state", "demo")
  z2_game_reset()
  local blue = z2_user_init("Blue", 0x3080ff, 0)
  local red = z2_user_init("Red", 0xff5040, 0)
  local grey = z2_user_init("Neutral", 0x808080, 0)
  z2_item_set(grey, "user_neutral", true)
  local owners = {blue, red, grey, grey, grey, grey, blue, red, grey, grey}
  math.randomseed(7)
  for i, owner in ipairs(owners) do
    z2_planet_init(owner, math.random(0, W), math.random(0, H), math.random(20, 80), math.random(10, 60))
  end
  z2_planets_settle(0, 0, W, H)
  z2_view_set(0, 0, W, H)
end

function loop(t) end
function event(e) end
