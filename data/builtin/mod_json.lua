-- mod_json.lua: configures the JSON module and publishes it as `json`
-- (encode, decode); the module's own global `cjson` goes again.

local function _mod_json_setup()
  local cjson = cjson
  if not cjson then return end
  cjson.decode_invalid_numbers(true)
  cjson.decode_max_depth(256)
  cjson.encode_invalid_numbers(false)
  cjson.encode_keep_buffer(true)
  cjson.encode_max_depth(256)
  cjson.encode_number_precision(14)
  cjson.encode_sparse_array(true, 1, 1)
  local decode = cjson.decode
  json = {
    encode = cjson.encode,
    -- Nothing to read gives nothing, not an error.
    decode = function(s)
      if s == nil or s == "" then return nil end
      return decode(s)
    end,
  }
end

_mod_json_setup()
_mod_json_setup = nil
-- Tested first: under strict mode even clearing an absent global raises.
if cjson ~= nil then cjson = nil end
