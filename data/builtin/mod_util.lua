-- mod_util.lua: text tables (tab-separated records with escaped cells) and
-- an optional strict mode for globals.
--
-- Library functions are kept as locals: these helpers must work inside
-- z2_sandbox runs (no string metatable). The metatable functions have left
-- the mods' globals; the game's own scripts still see them, also when a mod
-- requires this one again.

local function _mod_util_setup()
  local setmetatable, getmetatable, rawset = setmetatable, getmetatable, rawset
  local type, tostring, pairs, ipairs, error = type, tostring, pairs, ipairs, error
  local gsub, find, sub = string.gsub, string.find, string.sub
  local concat = table.concat
  local G = _G

  -- Cell escapes: a backslash first, so the escapes made after it stay apart.
  function _s_encode(s)
    if s == nil then return "" end
    s = gsub(tostring(s), "\\", "\\s")
    s = gsub(s, "\t", "\\t")
    return (gsub(s, "\n", "\\n"))
  end

  function _s_decode(s)
    s = gsub(tostring(s), "\\n", "\n")
    s = gsub(s, "\\t", "\t")
    return (gsub(s, "\\s", "\\"))
  end

  -- Pieces of s between separator bytes, empty ones included.
  local function split(s, sep)
    local out, at = {}, 1
    while true do
      local i = find(s, sep, at, true)
      if not i then
        out[#out + 1] = sub(s, at)
        return out
      end
      out[#out + 1] = sub(s, at, i - 1)
      at = i + 1
    end
  end

  -- Column names go through the cell escapes too, so any key survives.
  function t_encode(r)
    local names, index = {}, {}
    for _, rec in pairs(r) do
      if type(rec) == "table" then
        for k in pairs(rec) do
          if index[k] == nil then
            names[#names + 1] = k
            index[k] = #names
          end
        end
      end
    end
    local lines, head = {}, {}
    for i, k in ipairs(names) do head[i] = _s_encode(k) end
    lines[1] = concat(head, "\t")
    for _, rec in pairs(r) do
      local cells = {}
      for i, k in ipairs(names) do
        local v = nil
        if type(rec) == "table" then v = rec[k] end
        cells[i] = _s_encode(v)
      end
      lines[#lines + 1] = concat(cells, "\t")
    end
    return concat(lines, "\n")
  end

  function t_decode(s)
    local out = {}
    if s == nil then return out end
    local lines = split(tostring(s), "\n")
    local names = split(lines[1], "\t")
    for i, k in ipairs(names) do names[i] = _s_decode(k) end
    for l = 2, #lines do
      local rec = {}
      for i, cell in ipairs(split(lines[l], "\t")) do
        local k = names[i]
        if k ~= nil then rec[k] = _s_decode(cell) end
      end
      out[#out + 1] = rec
    end
    return out
  end

  -- Strict mode: new globals must be functions or declared with global().
  -- Its state is made once: when a mod requires this script again, the
  -- globals' metatable may be strict mode's own, which strict(false) must
  -- still take away.
  if strict ~= nil then return end
  local declared = {}
  local original = getmetatable(G)
  local strict_meta = {
    __newindex = function(t, k, v)
      if type(v) == "function" or declared[k] then
        rawset(t, k, v)
        return
      end
      error("undeclared global '" .. tostring(k) .. "'", 2)
    end,
  }

  function strict(enable)
    setmetatable(G, original)
    if enable then setmetatable(G, strict_meta) end
  end

  function global(name)
    if name ~= nil then declared[name] = true end
  end
end

_mod_util_setup()
_mod_util_setup = nil
