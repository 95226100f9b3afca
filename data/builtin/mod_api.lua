-- mod_api.lua: the entry points that the engine calls. A mod defines the
-- globals init(), loop(t) and event(e); a mod without one of them fails
-- here, which blocks the engine until its next script.

function _init()
  init()
end

function _loop(t)
  loop(t)
end

function _event(e)
  event(e)
end
