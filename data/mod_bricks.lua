-- mod_bricks.lua: a wall of bricks, a paddle and a ball, built only from the
-- mod drawing items (triangles, a circle, lines, labels) and the pointer
-- events every mod hears. Move the mouse to steer the paddle, click to
-- launch the ball. Clear the wall to win; three balls lost and it is over.
require("mod_match")

local W, H = 480, 360
local COLS, ROWS = 8, 5
local BRICK_W, BRICK_H, GAP = 54, 16, 4
local PADDLE_W, PADDLE_H, PADDLE_Y = 70, 10, H - 30
local BALL_R, BALL_SPEED = 6, 260
local COLORS = {0xff5040, 0xff9030, 0xffc030, 0x50e060, 0x40a0ff}

local bricks         -- list of {x, y, t1, t2} (the two triangles of a brick)
local paddle         -- {x, t1, t2}
local ball           -- {x, y, vx, vy, item, stuck}
local score, lives, left
local phase          -- "play", "over"

-- A filled rectangle: two triangles.
local function rect(color, x, y, w, h)
  local a = z2.new_triangle(color, x, y, x + w, y, x, y + h)
  local b = z2.new_triangle(color, x + w, y, x + w, y + h, x, y + h)
  return a, b
end

local function move_rect(t1, t2, x, y, w, h)
  t1.position_x, t1.position_y = x, y
  t1.draw_x2, t1.draw_y2, t1.draw_x3, t1.draw_y3 = x + w, y, x, y + h
  t2.position_x, t2.position_y = x + w, y
  t2.draw_x2, t2.draw_y2, t2.draw_x3, t2.draw_y3 = x + w, y + h, x, y + h
end

local function show_score()
  z2.status = string.format("Score %d    Balls %d", score, lives)
  -- A waiting ball says how to play it.
  if ball and ball.stuck then z2.status = z2.status .. "    Move the paddle with the mouse, click to launch" end
end

local function place_paddle(x)
  x = math.max(PADDLE_W / 2, math.min(W - PADDLE_W / 2, x))
  paddle.x = x
  move_rect(paddle.t1, paddle.t2, x - PADDLE_W / 2, PADDLE_Y, PADDLE_W, PADDLE_H)
end

local function serve()
  ball.stuck = true
  ball.x, ball.y = paddle.x, PADDLE_Y - BALL_R - 1
  show_score()
end

local function start()
  z2.game_reset()
  z2.bkgr_stars = 3
  bricks, score, lives, phase = {}, 0, 3, "play"
  local x0 = (W - (COLS * BRICK_W + (COLS - 1) * GAP)) / 2
  for r = 1, ROWS do
    for c = 1, COLS do
      local x, y = x0 + (c - 1) * (BRICK_W + GAP), 40 + (r - 1) * (BRICK_H + GAP)
      local t1, t2 = rect(COLORS[r], x, y, BRICK_W, BRICK_H)
      bricks[#bricks + 1] = {x = x, y = y, t1 = t1, t2 = t2, points = (ROWS - r + 1) * 10}
    end
  end
  left = #bricks
  -- The walls: dim lines on the three closed sides.
  for _, l in ipairs({{0, 0, W, 0}, {0, 0, 0, H}, {W, 0, W, H}}) do
    local line = z2.new_line(0x304060, l[1], l[2], l[3], l[4])
    line.render_blend = 0
  end
  local t1, t2 = rect(0xe0e8ff, 0, 0, PADDLE_W, PADDLE_H)
  paddle = {x = W / 2, t1 = t1, t2 = t2}
  place_paddle(W / 2)
  ball = {vx = 0, vy = 0, item = z2.new_circle(0xffffff, 0, 0, BALL_R)}
  serve()
  z2.view_set(0, 0, W, H)
  z2.player = 0
  show_score()
  z2.state = "scene"
end

local function show_end(victory)
  phase = "over"
  local title = victory and "The wall is down!" or "Game over"
  mod_match.finish(title, {"Score " .. score}, {{"Play again", "again"}, {"Menu", "menu"}})
end

local function hit_brick(b)
  b.t1:destroy()
  b.t2:destroy()
  b.gone = true
  left = left - 1
  score = score + b.points
  show_score()
  z2.play_sound("sfx-hit")
end

-- One short step of the ball: walls, paddle, bricks.
local function step(dt)
  local nx, ny = ball.x + ball.vx * dt, ball.y + ball.vy * dt
  if nx < BALL_R then nx, ball.vx = BALL_R, math.abs(ball.vx) end
  if nx > W - BALL_R then nx, ball.vx = W - BALL_R, -math.abs(ball.vx) end
  if ny < BALL_R then ny, ball.vy = BALL_R, math.abs(ball.vy) end
  -- The paddle sends the ball back at an angle set by where it hit.
  if ball.vy > 0 and ny + BALL_R >= PADDLE_Y and ball.y + BALL_R <= PADDLE_Y + PADDLE_H
      and math.abs(nx - paddle.x) <= PADDLE_W / 2 + BALL_R then
    local off = (nx - paddle.x) / (PADDLE_W / 2)
    local a = off * 1.1
    ball.vx, ball.vy = BALL_SPEED * math.sin(a), -BALL_SPEED * math.cos(a)
    ny = PADDLE_Y - BALL_R
    z2.play_sound("sfx-click")
  end
  for _, b in ipairs(bricks) do
    if not b.gone and nx + BALL_R > b.x and nx - BALL_R < b.x + BRICK_W and ny + BALL_R > b.y
        and ny - BALL_R < b.y + BRICK_H then
      -- Bounce off the side it came through.
      if ball.x + BALL_R <= b.x or ball.x - BALL_R >= b.x + BRICK_W then ball.vx = -ball.vx
      else ball.vy = -ball.vy end
      hit_brick(b)
      break
    end
  end
  ball.x, ball.y = nx, ny
  if ball.y > H + BALL_R then
    lives = lives - 1
    show_score()
    z2.play_sound("sfx-explode")
    if lives <= 0 then return show_end(false) end
    serve()
  end
  if left == 0 then show_end(true) end
end

function init()
  start()
end

function loop(t)
  if phase ~= "play" then return end
  if ball.stuck then
    ball.x, ball.y = paddle.x, PADDLE_Y - BALL_R - 1
  else
    local n = math.ceil(t / 0.01)
    for _ = 1, n do
      if phase ~= "play" or ball.stuck then break end
      step(t / n)
    end
  end
  ball.item.position_x, ball.item.position_y = ball.x, ball.y
end

function event(e)
  local v = e.value
  if e.type == "ui:motion" or e.type == "ui:down" then
    if phase == "play" and tonumber(e.x) then place_paddle(e.x) end
  end
  if e.type == "ui:up" and phase == "play" and ball.stuck then
    ball.stuck = false
    show_score()
    local a = (math.random() - 0.5) * 0.8
    ball.vx, ball.vy = BALL_SPEED * math.sin(a), -BALL_SPEED * math.cos(a)
  elseif e.type == "pause" then
    z2.html = mod_match.page("Paused", {"Score " .. score},
      {{"Back to the game", "resume"}, {"Restart", "again"}, {"Menu", "menu"}})
  elseif e.type == "onclick" and v == "resume" then
    if phase == "over" then z2.state = "quit" else z2.state = "scene" end
  elseif e.type == "onclick" then
    if v == "again" then start() elseif v == "menu" then z2.state = "quit" end
  end
end
