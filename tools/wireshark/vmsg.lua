-- Wireshark dissector for libvmsg message blocks.
--
-- A block is a message id, a flags byte (0x80: more segments of the same
-- message follow) and tags back to back: tag id, type code, 16-bit
-- big-endian payload length, payload. The dissector walks the tags the way
-- the library's message parser does: it stops at the first tag the parser
-- refuses and marks the rest of the block as unparsed, so what it shows is
-- what a receiving application gets. Payload bytes the library reads past
-- or cuts off are shown separately, with a note.
--
-- With a dictionary it names messages and tags, marks unknown message ids,
-- missing required tags and tags a closed message does not list, notes
-- deprecated entries and tags outside the members of their object, and
-- groups the tags into the objects their meta tags open, as the library's
-- structured view does. The segments of
-- a message are joined, per direction of a conversation, and the joined
-- message is shown on its last segment.
--
-- Load it with `tshark -X lua_script:vmsg.lua` or copy it into the personal
-- Lua plugins folder. Preferences: vmsg.port (UDP port, 47800 by default,
-- 0 for none) and vmsg.dictionary (a dictionary exported for Lua by
-- `vmsg dict gen --lua dict.json -o dict.lua`, see "The dictionary" below).

local vmsg = Proto("vmsg", "libvmsg message")

-- The wire's sizes and flag bits. The test wireshark.type_table checks this
-- block against the library's constants (VWire.h), line by line.
local MESSAGE_HEADER_SIZE = 2
local TAG_HEADER_SIZE = 4
-- getMsg writes at most this many payload bytes.
local MAX_PAYLOAD = 1022
local MORE_SEGMENTS = 0x80
-- End of the wire constants.
-- The wire types by code: short name, whether the payload has a fixed size,
-- and the largest payload. The test wireshark.type_table checks this table
-- against the library's own (vmsg::kTypes), line by line.
local TYPES = {
    [0] = { name = "null", fixed = true, max = 0 },
    [1] = { name = "str", fixed = false, max = 1018 },
    [2] = { name = "u32", fixed = true, max = 4 },
    [3] = { name = "u16", fixed = true, max = 2 },
    [4] = { name = "u8", fixed = true, max = 1 },
    [5] = { name = "bytes", fixed = false, max = 1018 },
    [6] = { name = "f32", fixed = true, max = 4 },
}

-- The library keeps at most this many payload bytes of a raw-bytes tag,
-- and one byte fewer characters of a text (it adds the NUL).
local MAX_TAG_PAYLOAD = TYPES[5].max
local MAX_TEXT = MAX_TAG_PAYLOAD - 1
-- The required-tag check takes an 8-bit tag count.
local MAX_CHECKED_TAGS = 255
-- A message counts its tags and payload bytes in 16 bits and holds them
-- at 65535.
local MAX_COUNT = 65535

local TYPE_NULL, TYPE_TEXT, TYPE_U32, TYPE_U16, TYPE_U8, TYPE_BYTES, TYPE_F32 = 0, 1, 2, 3, 4, 5, 6
local TYPE_NAMES = {}
-- The payload size of a fixed-size value that a received tag must declare
-- at least (none for a null tag, whose value is empty).
local FIXED_SIZE = {}
for code, type in pairs(TYPES) do
    TYPE_NAMES[code] = type.name
    if type.fixed and type.max > 0 then FIXED_SIZE[code] = type.max end
end

local DEFAULT_PORT = 47800

------------------------------------------------------------------------
-- Fields and expert infos

local f = {
    msg_id = ProtoField.uint8("vmsg.msg_id", "Message id", base.HEX),
    msg_name = ProtoField.string("vmsg.msg_name", "Message name"),
    flags = ProtoField.uint8("vmsg.flags", "Flags", base.HEX),
    more = ProtoField.bool("vmsg.flags.more", "More segments follow", 8, nil, MORE_SEGMENTS),
    other_flags = ProtoField.uint8("vmsg.flags.other", "Other bits", base.HEX, nil, 0x7f),
    tag = ProtoField.none("vmsg.tag", "Tag"),
    tag_id = ProtoField.uint8("vmsg.tag.id", "Tag id", base.DEC),
    tag_name = ProtoField.string("vmsg.tag.name", "Tag name"),
    tag_type = ProtoField.uint8("vmsg.tag.type", "Type", base.DEC, TYPE_NAMES),
    tag_length = ProtoField.uint16("vmsg.tag.length", "Length", base.DEC),
    text = ProtoField.string("vmsg.tag.str", "Text"),
    u32 = ProtoField.uint32("vmsg.tag.u32", "Value", base.DEC_HEX),
    u16 = ProtoField.uint16("vmsg.tag.u16", "Value", base.DEC_HEX),
    u8 = ProtoField.uint8("vmsg.tag.u8", "Value", base.DEC_HEX),
    f32 = ProtoField.float("vmsg.tag.f32", "Value"),
    bytes = ProtoField.bytes("vmsg.tag.bytes", "Bytes", base.SPACE),
    ignored = ProtoField.bytes("vmsg.tag.ignored", "Ignored payload", base.SPACE),
    dropped = ProtoField.bytes("vmsg.tag.dropped", "Dropped payload", base.SPACE),
    unparsed = ProtoField.bytes("vmsg.unparsed", "Unparsed", base.SPACE),
    object = ProtoField.none("vmsg.object", "Object"),
    object_name = ProtoField.string("vmsg.object.name", "Object name"),
    segment_number = ProtoField.uint32("vmsg.segment.number", "Segment number", base.DEC),
    reassembled_in = ProtoField.framenum("vmsg.reassembled_in", "Reassembled in", base.NONE, frametype.NONE),
    segments = ProtoField.none("vmsg.segments", "Segments"),
    segment = ProtoField.framenum("vmsg.segment", "Segment", base.NONE, frametype.NONE),
    segment_count = ProtoField.uint32("vmsg.segment.count", "Segment count", base.DEC),
}
vmsg.fields = {
    f.msg_id, f.msg_name, f.flags, f.more, f.other_flags, f.tag, f.tag_id, f.tag_name, f.tag_type,
    f.tag_length, f.text, f.u32, f.u16, f.u8, f.f32, f.bytes, f.ignored, f.dropped, f.unparsed,
    f.object, f.object_name, f.segment_number, f.reassembled_in, f.segments, f.segment, f.segment_count,
}

-- The names of the four parse stops match the reasons `vmsg decode` gives.
local e = {
    short_block = ProtoExpert.new("vmsg.short_block", "Block shorter than the 2-byte message header",
        expert.group.MALFORMED, expert.severity.ERROR),
    short_header = ProtoExpert.new("vmsg.short_header", "Short tag header",
        expert.group.MALFORMED, expert.severity.ERROR),
    length_beyond_block = ProtoExpert.new("vmsg.length_beyond_block", "Declared length beyond the block",
        expert.group.MALFORMED, expert.severity.ERROR),
    unknown_type_code = ProtoExpert.new("vmsg.unknown_type_code", "Unknown type code",
        expert.group.MALFORMED, expert.severity.ERROR),
    short_fixed_value = ProtoExpert.new("vmsg.short_fixed_value", "Declared length shorter than its type",
        expert.group.MALFORMED, expert.severity.ERROR),
    ignored = ProtoExpert.new("vmsg.ignored_payload", "Declared payload bytes the value does not use",
        expert.group.PROTOCOL, expert.severity.NOTE),
    text_without_nul = ProtoExpert.new("vmsg.text_without_nul", "Text without a NUL",
        expert.group.PROTOCOL, expert.severity.NOTE),
    dropped = ProtoExpert.new("vmsg.dropped_payload", "Payload cut by the receiving library",
        expert.group.PROTOCOL, expert.severity.WARN),
    unknown_message = ProtoExpert.new("vmsg.unknown_message", "Message id not in the dictionary",
        expert.group.PROTOCOL, expert.severity.WARN),
    missing_tag = ProtoExpert.new("vmsg.missing_tag", "Required tag missing",
        expert.group.PROTOCOL, expert.severity.WARN),
    type_differs = ProtoExpert.new("vmsg.type_differs", "Type differs from the dictionary",
        expert.group.PROTOCOL, expert.severity.WARN),
    unexpected_tag = ProtoExpert.new("vmsg.unexpected_tag", "Tag the message does not list",
        expert.group.PROTOCOL, expert.severity.WARN),
    deprecated_message = ProtoExpert.new("vmsg.deprecated_message", "Message deprecated in the dictionary",
        expert.group.DEPRECATED, expert.severity.NOTE),
    deprecated_tag = ProtoExpert.new("vmsg.deprecated_tag", "Tag deprecated in the dictionary",
        expert.group.DEPRECATED, expert.severity.NOTE),
    not_member = ProtoExpert.new("vmsg.not_member", "Tag not a member of its object",
        expert.group.PROTOCOL, expert.severity.NOTE),
    dictionary_refused = ProtoExpert.new("vmsg.dictionary_refused", "Dictionary refused",
        expert.group.PROTOCOL, expert.severity.ERROR),
    dictionary_unreadable = ProtoExpert.new("vmsg.dictionary_unreadable", "Dictionary cannot be read",
        expert.group.PROTOCOL, expert.severity.ERROR),
    structure_refused = ProtoExpert.new("vmsg.structure_refused", "Structured view refused",
        expert.group.PROTOCOL, expert.severity.WARN),
    segment_mismatch = ProtoExpert.new("vmsg.segment_mismatch",
        "Segment of another message before the last segment", expert.group.SEQUENCE, expert.severity.WARN),
    not_reassembled = ProtoExpert.new("vmsg.not_reassembled", "Message not reassembled",
        expert.group.REASSEMBLE, expert.severity.WARN),
    incomplete = ProtoExpert.new("vmsg.incomplete", "Last segment not seen",
        expert.group.REASSEMBLE, expert.severity.NOTE),
    oversized = ProtoExpert.new("vmsg.oversized", "Joined message larger than one block",
        expert.group.PROTOCOL, expert.severity.NOTE),
}
vmsg.experts = {
    e.short_block, e.short_header, e.length_beyond_block, e.unknown_type_code, e.short_fixed_value,
    e.ignored, e.text_without_nul, e.dropped, e.unknown_message, e.missing_tag, e.type_differs,
    e.unexpected_tag, e.deprecated_message, e.deprecated_tag, e.not_member, e.dictionary_refused,
    e.dictionary_unreadable, e.structure_refused, e.segment_mismatch,
    e.not_reassembled, e.incomplete, e.oversized,
}

vmsg.prefs.port = Pref.uint("UDP port", DEFAULT_PORT,
    "UDP port of message blocks (0: none; Decode As still works)")
vmsg.prefs.dictionary = Pref.string("Dictionary file", "",
    "Lua export of a dictionary, written by 'vmsg dict gen --lua dict.json -o dict.lua' " ..
    "(empty: numbers only)")

------------------------------------------------------------------------
-- The dictionary
--
-- The dissector reads no JSON. `vmsg dict gen --lua dict.json -o dict.lua`
-- checks a dictionary with the library's own checker and writes it as a
-- Lua chunk that returns one table; the preference names that file. The
-- chunk runs in an empty environment (it reaches no global: no io, os or
-- require) under a limit of instructions, and what it returns is checked
-- for the shape the exporter writes before anything uses it. A file that
-- is edited by hand, cut short or not an export at all is refused once,
-- with the reason in every packet, and never fails a packet with a Lua
-- error.

-- The layout of the exported table this dissector reads.
local DICTIONARY_FORMAT = 1
-- Far more than an export of 255 entries of each kind runs; stops a chunk
-- that loops.
local CHUNK_INSTRUCTIONS = 10000000

-- A value of the chunk in a refusal: numbers and booleans as they are,
-- text quoted and cut to 40 bytes, anything else by its type.
local function shown(value)
    local kind = type(value)
    if kind == "number" or kind == "boolean" then return tostring(value) end
    if kind == "string" then
        return string.format("%q", #value > 40 and value:sub(1, 37) .. "..." or value):gsub("\\\n", "\\n")
    end
    if kind == "nil" then return "nothing" end
    return "a " .. kind
end

-- Raises the refusal of the value at PATH: "PATH: expected WHAT, found X".
local function shape_error(path, what, value)
    error({ shape = (path ~= "" and path .. ": " or "") .. "expected " .. what .. ", found " .. shown(value) }, 0)
end

local function is_integer(value, low, high)
    return type(value) == "number" and value == math.floor(value) and value >= low and value <= high
end

local function check_id(value, path)
    if not is_integer(value, 0, 255) then shape_error(path, "an id from 0 to 255", value) end
    return value
end

local function check_text(value, path)
    if type(value) ~= "string" or value == "" then shape_error(path, "a non-empty text", value) end
    return value
end

local function check_flag(value, path)
    if type(value) ~= "boolean" then shape_error(path, "true or false", value) end
    return value
end

local function check_type(value, path)
    if not (is_integer(value, 0, 255) and TYPES[value]) then
        shape_error(path, "a type code from 0 to " .. #TYPES, value)
    end
    return value
end

-- A list (a table with the keys 1 to n only); CHECK_ITEM reads each item.
local function check_list(value, path, check_item)
    if type(value) ~= "table" then shape_error(path, "a list", value) end
    local count = 0
    for key in pairs(value) do
        if not is_integer(key, 1, math.huge) then shape_error(path, "a list (keys 1, 2, ...)", key) end
        count = count + 1
    end
    local items = {}
    for i = 1, count do
        local item_path = path .. "[" .. i .. "]"
        if value[i] == nil then shape_error(item_path, "an entry", nil) end
        items[i] = check_item(value[i], item_path)
    end
    return items
end

local function check_entry(value, path)
    if type(value) ~= "table" then shape_error(path, "an entry (a table)", value) end
    return value
end

-- A list of tag ids, each defined in TAGS; as a set when AS_SET.
local function check_tag_ids(value, path, tags, as_set)
    local ids = check_list(value, path, function(item, item_path)
        check_id(item, item_path)
        if not tags[item] then shape_error(item_path, "the id of an entry of tags", item) end
        return item
    end)
    if not as_set then return ids end
    local set = {}
    for _, id in ipairs(ids) do set[id] = true end
    return set
end

-- Registers the entry ID of KIND in BY_ID, refusing an id given twice.
local function add_unique(by_id, id, entry, path, kind)
    if by_id[id] then shape_error(path .. ".id", "a " .. kind .. " id not given before", id) end
    by_id[id] = entry
end

-- The lookup tables of an exported dictionary, by id; raises a shape
-- error for anything the exporter would not have written.
local function dictionary_tables(root)
    if type(root) ~= "table" then shape_error("", "the chunk to return a table", root) end
    if root.format == nil then
        shape_error("format", "format = " .. DICTIONARY_FORMAT ..
            " (is this a dictionary exported by 'vmsg dict gen --lua'?)", nil)
    end
    if root.format ~= DICTIONARY_FORMAT then
        shape_error("format", "format " .. DICTIONARY_FORMAT .. ", the one this dissector reads", root.format)
    end
    if root.name ~= nil then check_text(root.name, "name") end
    if root.version ~= nil and not is_integer(root.version, 0, math.huge) then
        shape_error("version", "a whole number from 0", root.version)
    end
    local dict = { messages = {}, tags = {}, metas = {}, name = root.name, version = root.version }
    check_list(root.tags, "tags", function(value, path)
        check_entry(value, path)
        local tag = { id = check_id(value.id, path .. ".id"), name = check_text(value.name, path .. ".name"),
                      type = check_type(value.type, path .. ".type"),
                      deprecated = check_flag(value.deprecated, path .. ".deprecated") }
        add_unique(dict.tags, tag.id, tag, path, "tag")
    end)
    check_list(root.messages, "messages", function(value, path)
        check_entry(value, path)
        local message = { id = check_id(value.id, path .. ".id"), name = check_text(value.name, path .. ".name"),
                          required = check_tag_ids(value.required, path .. ".required", dict.tags),
                          optional = check_tag_ids(value.optional, path .. ".optional", dict.tags),
                          closed = check_flag(value.closed, path .. ".closed"),
                          deprecated = check_flag(value.deprecated, path .. ".deprecated") }
        if message.closed then
            message.expected = check_tag_ids(value.expected, path .. ".expected", dict.tags, true)
        end
        add_unique(dict.messages, message.id, message, path, "message")
    end)
    check_list(root.metas, "metas", function(value, path)
        check_entry(value, path)
        local meta = { id = check_id(value.id, path .. ".id"), object = check_text(value.object, path .. ".object"),
                       members = check_tag_ids(value.members, path .. ".members", dict.tags, true),
                       lists_members = check_flag(value.lists_members, path .. ".lists_members") }
        if not dict.tags[meta.id] then shape_error(path .. ".id", "the id of an entry of tags", meta.id) end
        add_unique(dict.metas, meta.id, meta, path, "meta")
    end)
    return dict
end

-- Runs the loaded chunk under the instruction limit; returns pcall's results.
local function run_chunk(chunk)
    local sethook = debug and debug.sethook
    if not sethook then return pcall(chunk) end
    sethook(function() error("it runs more than " .. CHUNK_INSTRUCTIONS .. " instructions", 0) end, "",
        CHUNK_INSTRUCTIONS)
    local ok, result = pcall(chunk)
    sethook()
    return ok, result
end

-- The dictionary of the preference, read again when the path changes. A
-- file that cannot be read or is refused is reported once, and every
-- packet then says why it shows numbers only.
local loaded = { path = "", dict = nil, refusal = nil }

local function refused(path, why)
    return nil, { expert = e.dictionary_refused, texts = { "Dictionary " .. path .. " refused: " .. why } }
end

local function load_dictionary(path)
    local file, why = io.open(path, "rb")
    if not file then
        return nil, { expert = e.dictionary_unreadable, texts = { "Dictionary " .. why } }
    end
    local text = file:read("*a") or ""
    file:close()
    if text:match("^\239\187\191") or text:match("^%s*{") then
        return refused(path, "this is a JSON dictionary, not its export; run 'vmsg dict gen --lua " .. path ..
            " -o FILE.lua' and name FILE.lua in the preference")
    end
    -- "t": text only (a precompiled chunk could do anything); {}: no
    -- globals. Not loadfile: Wireshark replaces it with one that takes a
    -- file name only and would run the chunk among all globals.
    local chunk, problem = load(text, "=" .. path, "t", {})
    if not chunk then return refused(path, "not a Lua chunk: " .. tostring(problem)) end
    local ok, root = run_chunk(chunk)
    if not ok then return refused(path, "the chunk fails: " .. tostring(root)) end
    local built, dict = pcall(dictionary_tables, root)
    if built then return dict end
    if type(dict) == "table" and dict.shape then
        return refused(path, dict.shape .. "; export the dictionary again with 'vmsg dict gen --lua'")
    end
    error(dict, 0)
end

local function current_dictionary()
    local path = vmsg.prefs.dictionary or ""
    if path ~= loaded.path then
        loaded.path, loaded.dict, loaded.refusal = path, nil, nil
        if path ~= "" then
            loaded.dict, loaded.refusal = load_dictionary(path)
            if loaded.refusal then
                report_failure("vmsg dissector: cannot use the dictionary: " .. loaded.refusal.texts[1])
            end
        end
    end
    return loaded.dict
end

-- Says in the packet why the dictionary of the preference is not used.
local function add_dictionary_refusal(root)
    local refusal = loaded.refusal
    if not refusal then return end
    for _, text in ipairs(refusal.texts) do root:add_proto_expert_info(refusal.expert, text) end
end

------------------------------------------------------------------------
-- Values

local function plural(count, noun)
    return count .. " " .. noun .. (count == 1 and "" or "s")
end

-- The shortest decimal text that reads back as the same float, as
-- `vmsg decode` prints it; "nan", "-nan", "inf" or "-inf" for the values
-- without digits.
local function float_text(range)
    local bits = range:uint()
    local negative = bits >= 0x80000000
    if math.floor(bits / 0x800000) % 0x100 == 0xff then
        local name = bits % 0x800000 == 0 and "inf" or "nan"
        return (negative and "-" or "") .. name
    end
    local value = range:float()
    local wire = range:raw()
    local text
    for digits = 1, 9 do
        text = string.format("%." .. digits .. "g", value)
        if Struct.pack(">f", tonumber(text)) == wire then break end
    end
    return text
end

-- Text in double quotes with the escapes `vmsg decode` uses.
local function quote(text)
    return '"' .. text:gsub('[%c"\\\128-\255]', function(c)
        local named = { ['"'] = '\\"', ["\\"] = "\\\\", ["\n"] = "\\n", ["\r"] = "\\r", ["\t"] = "\\t" }
        return named[c] or string.format("\\x%02x", c:byte())
    end) .. '"'
end

-- Marks payload bytes the library does not read as a value.
local function add_unused(tree, field, expert_info, range, text)
    local item = tree:add(field, range)
    item:add_proto_expert_info(expert_info, text)
end

-- The value functions get the tag's payload as its start in the tvb and
-- its declared length, and return the summary text for the tag's line.
-- (A TvbRange cannot give a sub-range of length 0; tvb:range can.)

local function add_fixed(tree, code, tvb, start, declared)
    local size = FIXED_SIZE[code]
    local range = tvb:range(start, size)
    local summary
    if code == TYPE_F32 then
        summary = float_text(range)
        tree:add(f.f32, range):set_text(string.format("Value: %s (bits 0x%08x)", summary, range:uint()))
    else
        local field = ({ [TYPE_U32] = f.u32, [TYPE_U16] = f.u16, [TYPE_U8] = f.u8 })[code]
        summary = tostring(range:uint())
        tree:add(field, range)
    end
    if declared > size then
        add_unused(tree, f.ignored, e.ignored, tvb:range(start + size, declared - size),
            "Declares " .. plural(declared, "byte") .. "; the value is read from the first " .. size ..
            ", ignoring " .. (declared - size))
    end
    return summary
end

local function add_text(tree, tvb, start, declared)
    local bytes = tvb:raw(start, declared)
    local nul = bytes:find("\0", 1, true)
    local chars = nul and nul - 1 or declared
    local kept = math.min(chars, MAX_TEXT)
    local text = bytes:sub(1, kept)
    local item = tree:add_packet_field(f.text, tvb:range(start, kept), ENC_UTF_8)
    item:set_text("Text: " .. quote(text))
    if not nul then
        item:add_proto_expert_info(e.text_without_nul, declared == 0
            and "Empty payload without a NUL; read as the empty text"
            or "No NUL within the declared " .. plural(declared, "byte") ..
               "; the text runs to the end of the payload")
    end
    if chars > kept then
        add_unused(tree, f.dropped, e.dropped, tvb:range(start + kept, chars - kept),
            "Text of " .. plural(chars, "character") .. " cut to " .. MAX_TEXT .. " by the library")
    end
    if nul and nul < declared then
        add_unused(tree, f.ignored, e.ignored, tvb:range(start + nul, declared - nul),
            "The text ends at its NUL; " .. plural(declared - nul, "more declared byte") .. " ignored")
    end
    return quote(text)
end

local function add_bytes(tree, tvb, start, declared)
    local kept = math.min(declared, MAX_TAG_PAYLOAD)
    tree:add(f.bytes, tvb:range(start, kept))
    if declared > kept then
        add_unused(tree, f.dropped, e.dropped, tvb:range(start + kept, declared - kept),
            "Declares " .. plural(declared, "byte") .. "; the library keeps the first " .. MAX_TAG_PAYLOAD ..
            ", dropping " .. (declared - kept))
    end
    return plural(kept, "byte")
end

local function add_null(tree, tvb, start, declared)
    if declared > 0 then
        add_unused(tree, f.ignored, e.ignored, tvb:range(start, declared),
            "Declares " .. plural(declared, "payload byte") .. ", which a null tag ignores")
    end
    return nil
end

-- Adds the value items of an accepted tag; returns the summary text.
local function add_value(tree, code, tvb, start, declared)
    if code == TYPE_TEXT then return add_text(tree, tvb, start, declared) end
    if code == TYPE_BYTES then return add_bytes(tree, tvb, start, declared) end
    if code == TYPE_NULL then return add_null(tree, tvb, start, declared) end
    return add_fixed(tree, code, tvb, start, declared)
end

------------------------------------------------------------------------
-- Tags

local function tag_label(id, dict, word)
    local def = dict and dict.tags[id]
    return (word or "Tag") .. " " .. id .. (def and " (" .. def.name .. ")" or "")
end

-- The header fields of a tag; returns the id, code and declared length
-- items for expert infos.
local function add_tag_header(tree, tvb, pos, dict)
    local id = tvb(pos, 1):uint()
    local id_item = tree:add(f.tag_id, tvb(pos, 1))
    local def = dict and dict.tags[id]
    if def then tree:add(f.tag_name, tvb(pos, 1), def.name):set_generated() end
    local type_item = tree:add(f.tag_type, tvb(pos + 1, 1))
    local length_item = tree:add(f.tag_length, tvb(pos + 2, 2))
    return id_item, type_item, length_item
end

-- Adds the accepted tag at POS; returns its value as text (nil for a null
-- tag) and its item.
local function add_tag(tree, tvb, pos, dict)
    local id, code, declared = tvb(pos, 1):uint(), tvb(pos + 1, 1):uint(), tvb(pos + 2, 2):uint()
    local subtree = tree:add(f.tag, tvb(pos, TAG_HEADER_SIZE + declared))
    local _, type_item = add_tag_header(subtree, tvb, pos, dict)
    local summary = add_value(subtree, code, tvb, pos + TAG_HEADER_SIZE, declared)
    subtree:set_text(tag_label(id, dict) .. ", " .. TYPE_NAMES[code] .. (summary and ": " .. summary or ""))
    local def = dict and dict.tags[id]
    if def and def.type ~= code then
        type_item:add_proto_expert_info(e.type_differs,
            "The dictionary declares " .. def.name .. " as " .. TYPE_NAMES[def.type])
    end
    if def and def.deprecated then
        subtree:add_proto_expert_info(e.deprecated_tag, "The dictionary marks " .. tag_label(id, dict, "tag") ..
            " deprecated")
    end
    return summary, subtree
end

-- Why the parser refuses the tag at POS: the expert info, the item it
-- goes on ("unparsed", "type" or "length") and its text; nil if it takes it.
local function refusal(tvb, pos)
    local left = tvb:len() - pos
    if left < TAG_HEADER_SIZE then
        return e.short_header, "unparsed",
            "Short tag header: " .. plural(left, "byte") .. " left, a tag header needs " .. TAG_HEADER_SIZE
    end
    local id, code, declared = tvb(pos, 1):uint(), tvb(pos + 1, 1):uint(), tvb(pos + 2, 2):uint()
    if declared + TAG_HEADER_SIZE > left then
        return e.length_beyond_block, "length", "Tag " .. id .. " declares " ..
            plural(declared, "payload byte") .. " but only " .. (left - TAG_HEADER_SIZE) ..
            " follow its header"
    end
    if not TYPES[code] then
        return e.unknown_type_code, "type",
            "Tag " .. id .. " has unknown type code " .. code .. " (expected 0 to 6)"
    end
    local size = FIXED_SIZE[code]
    if size and declared < size then
        return e.short_fixed_value, "length", "Tag " .. id .. " of type " .. TYPE_NAMES[code] ..
            " declares " .. plural(declared, "byte") .. ", its value needs " .. size
    end
end

-- Shows the refused tag and the bytes after it as unparsed.
local function add_stop(tree, tvb, pos, dict, expert_info, target, text)
    local item = tree:add(f.unparsed, tvb(pos))
    item:set_text("Unparsed: " .. plural(tvb:len() - pos, "byte") .. " from offset " .. pos)
    if target == "unparsed" then
        item:add_proto_expert_info(expert_info, text)
        return
    end
    local _, type_item, length_item = add_tag_header(item, tvb, pos, dict)
    local on = target == "type" and type_item or length_item
    on:add_proto_expert_info(expert_info, text)
end

-- The number of tags the parser takes from the block.
local function count_tags(tvb)
    local count, pos = 0, MESSAGE_HEADER_SIZE
    while pos < tvb:len() and not refusal(tvb, pos) do
        count = count + 1
        pos = pos + TAG_HEADER_SIZE + tvb(pos + 2, 2):uint()
    end
    return count
end

------------------------------------------------------------------------
-- Objects
--
-- The library's structured view (CarrowMessage::parseVMsg): tags before
-- the first meta tag stay plain tags of the message; each meta tag opens
-- an object, which holds the tags after it up to the next meta tag. The
-- view refuses a message whose tag count (16 bits, held at 65535) is not
-- its number of tags, which only a message joined from more than 65535
-- tags can be.

-- The object that the meta tag at POS opens; its item grows with each tag.
local function open_object(tree, tvb, pos, meta)
    local object = { item = tree:add(f.object, tvb(pos, TAG_HEADER_SIZE + tvb(pos + 2, 2):uint())), start = pos,
                     name = meta.object, members = 0, meta = meta }
    object.item:add(f.object_name, tvb(pos, 1), meta.object):set_generated()
    return object
end

-- Takes the tag of LENGTH bytes at POS (its item TAG_ITEM) into the
-- object: its meta tag names it (META_SUMMARY is that tag's value), a
-- later tag is a member tag; one the dictionary does not list among the
-- object's members, where it lists them, is noted.
local function grow_object(object, tvb, pos, length, meta_summary, tag_item, dict)
    if pos == object.start then
        local id = tvb(pos, 1):uint()
        local def = dict.tags[id]
        object.label = "Object " .. object.name .. " (tag " .. id .. (def and " " .. def.name or "") ..
            (meta_summary and ": " .. meta_summary or "") .. ")"
    else
        object.members = object.members + 1
        local id = tvb(pos, 1):uint()
        if object.meta.lists_members and not object.meta.members[id] then
            tag_item:add_proto_expert_info(e.not_member, tag_label(id, dict) .. " is not a member of " ..
                object.name .. " in the dictionary; the structured view still puts it there")
        end
    end
    object.item:set_len(pos + length - object.start)
    object.item:set_text(object.label .. ", " .. plural(object.members, "member tag"))
end

-- Whether the library gives this block a structured view; if not, says why.
local function structure_allowed(root, tvb)
    local count = count_tags(tvb)
    if count <= MAX_COUNT then return true end
    root:add_proto_expert_info(e.structure_refused, string.format(
        "No structured view: the message counts %d tags (held at %d) but has %d (ErrTagCountMismatch, " ..
        "detail %d)", MAX_COUNT, MAX_COUNT, count, (count - MAX_COUNT) % 65536))
    return false
end

------------------------------------------------------------------------
-- Messages

-- Marks the required tags the message lacks. Each present tag satisfies
-- one requirement, as the endpoint counts them.
local function check_required(item, def, ids, dict)
    local unused = {}
    for i = 1, math.min(#ids, MAX_CHECKED_TAGS) do unused[i] = ids[i] end
    for _, required in ipairs(def.required) do
        local found = false
        for i, id in pairs(unused) do
            if id == required then
                unused[i] = nil
                found = true
                break
            end
        end
        if not found then
            item:add_proto_expert_info(e.missing_tag,
                "Required " .. tag_label(required, dict, "tag") .. " is missing")
        end
    end
end

local function add_message_header(tree, tvb, dict, check_id)
    local id = tvb(0, 1):uint()
    local def = dict and dict.messages[id]
    local id_item = tree:add(f.msg_id, tvb(0, 1))
    if def then
        local name_item = tree:add(f.msg_name, tvb(0, 1), def.name)
        name_item:set_generated()
        if def.deprecated then
            name_item:add_proto_expert_info(e.deprecated_message, "The dictionary marks message " .. def.name ..
                " deprecated")
        end
    end
    local flags_item = tree:add(f.flags, tvb(1, 1))
    flags_item:add(f.more, tvb(1, 1))
    flags_item:add(f.other_flags, tvb(1, 1))
    if check_id and dict and not def then
        id_item:add_proto_expert_info(e.unknown_message,
            string.format("Message id 0x%02x is not in the dictionary; a receiving endpoint refuses it", id))
    end
    return def
end

-- The tags of the block, grouped into objects when the dictionary has
-- meta tags and the library would group them; in a closed message (DEF),
-- the first tag of each id it does not list is marked. Returns the tag ids
-- and the text of the parse stop, if any.
local function add_tags(root, tvb, dict, def)
    local expected = def and def.closed and def.expected
    local marked = {}
    local metas = dict and next(dict.metas) and structure_allowed(root, tvb) and dict.metas
    local ids, pos, object = {}, MESSAGE_HEADER_SIZE, nil
    while pos < tvb:len() do
        local expert_info, target, text = refusal(tvb, pos)
        if expert_info then
            add_stop(root, tvb, pos, dict, expert_info, target, text)
            return ids, text
        end
        local id, length = tvb(pos, 1):uint(), TAG_HEADER_SIZE + tvb(pos + 2, 2):uint()
        local meta = metas and metas[id]
        if meta then object = open_object(root, tvb, pos, meta) end
        local summary, item = add_tag(object and object.item or root, tvb, pos, dict)
        if object then grow_object(object, tvb, pos, length, summary, item, dict) end
        if expected and not expected[id] and not marked[id] then
            marked[id] = true
            item:add_proto_expert_info(e.unexpected_tag, tag_label(id, dict) .. " is not expected in message " ..
                def.name .. ", which lists its tags")
        end
        ids[#ids + 1] = id
        pos = pos + length
    end
    return ids, nil
end

-- Dissects one block (a datagram, or a message joined from segments) as a
-- vmsg tree under TREE. CHECK_ID: mark a message id the dictionary lacks
-- (the endpoint checks each block it receives, not a joined message).
-- Returns the tree item and what the block holds.
local function dissect_block(tvb, tree, dict, check_id)
    local root = tree:add(vmsg, tvb:range(0, tvb:len()))
    local def = add_message_header(root, tvb, dict, check_id)
    local ids, stopped = add_tags(root, tvb, dict, def)
    if def then check_required(root, def, ids, dict) end
    local id, flags = tvb(0, 1):uint(), tvb(1, 1):uint()
    local summary = string.format("Message 0x%02x%s, flags 0x%02x, %s", id, def and " " .. def.name or "", flags,
        plural(#ids, "tag"))
    root:append_text(", " .. summary)
    return root, { id = id, flags = flags, tags = #ids, stopped = stopped, summary = summary }
end

------------------------------------------------------------------------
-- Segments
--
-- A message too large for one frame travels as segments with its id:
-- every one but the last has flag 0x80 set. The receiver joins them in
-- arrival order onto the first (VMsg::addSegment): the first segment's id
-- and flags (0x80 cleared), then the tags of all segments. Like `vmsg
-- join`, the dissector refuses to join a segment whose parse stops early
-- (its rest would be lost) and a segment of another message id before the
-- last one; such a segment is shown on its own.
--
-- Segments are followed per direction of a conversation (source and
-- destination address and port), in frame order on the first pass; what
-- each frame turned out to be is kept by frame number for later passes,
-- which Wireshark makes in any order.

local reassembly = { pending = {}, frames = {} }

function vmsg.init()
    reassembly.pending, reassembly.frames = {}, {}
end

local function stream_key(pinfo)
    return tostring(pinfo.src) .. ":" .. pinfo.src_port .. ">" .. tostring(pinfo.dst) .. ":" .. pinfo.dst_port
end

-- On the first pass: adds the block to the message it continues or
-- starts. Returns the frame's record: message (the segments' message, for
-- a segment), index (its place there), and cut (a message this block
-- interrupted); nil for a whole message that interrupts nothing.
local function follow_segment(pinfo, tvb, block)
    local key = stream_key(pinfo)
    local message = reassembly.pending[key]
    local record = {}
    if message and block.id ~= message.id then
        message.cut_by = pinfo.number
        record.cut = message
        reassembly.pending[key], message = nil, nil
    end
    local more = bit32.band(block.flags, MORE_SEGMENTS) ~= 0
    if not message and not more then return record.cut and record or nil end
    if not message then
        message = { id = block.id, flags = block.flags, frames = {}, parts = {}, tags = {} }
        reassembly.pending[key] = message
    end
    local index = #message.frames + 1
    message.frames[index] = pinfo.number
    message.parts[index] = tvb:raw(MESSAGE_HEADER_SIZE, tvb:len() - MESSAGE_HEADER_SIZE)
    message.tags[index] = block.tags
    if block.stopped and not message.broken then message.broken = pinfo.number end
    if not more then
        message.completed = pinfo.number
        reassembly.pending[key] = nil
    end
    record.message, record.index = message, index
    return record
end

-- The frame's record: made on the first pass, read on the others.
local function segment_record(pinfo, tvb, block)
    local record = reassembly.frames[pinfo.number]
    if record == nil and not pinfo.visited then
        record = follow_segment(pinfo, tvb, block) or false
        reassembly.frames[pinfo.number] = record
    end
    return record or nil
end

local function frame_list(frames)
    return table.concat(frames, ", ")
end

-- Shows the message joined from its segments as a tree of its own, over
-- the joined bytes; returns its summary.
local function add_joined(tree, message, dict)
    message.joined = message.joined or
        string.char(message.id, bit32.band(message.flags, 0xff - MORE_SEGMENTS)) .. table.concat(message.parts)
    local tvb = ByteArray.new(message.joined, true):tvb("Reassembled message")
    local root, block = dissect_block(tvb, tree, dict, false)
    local count = #message.frames
    root:append_text(", reassembled from " .. plural(count, "segment"))
    local list = root:add(f.segments, tvb:range(MESSAGE_HEADER_SIZE, tvb:len() - MESSAGE_HEADER_SIZE))
    list:set_text(string.format("%s: frames %s", plural(count, "segment"), frame_list(message.frames)))
    list:set_generated()
    list:add(f.segment_count, count):set_generated()
    local pos = MESSAGE_HEADER_SIZE
    for i, frame in ipairs(message.frames) do
        local size = #message.parts[i]
        list:add(f.segment, tvb:range(pos, size), frame):set_text(string.format(
            "Segment %d: frame %d, %s, %s", i, frame, plural(message.tags[i], "tag"), plural(size, "byte")))
        pos = pos + size
    end
    local payload = tvb:len() - MESSAGE_HEADER_SIZE
    if payload > MAX_PAYLOAD then
        root:add_proto_expert_info(e.oversized, string.format("%d payload bytes: more than one block holds " ..
            "(%d); getMsg and bytesOut cannot write this message whole", payload, MAX_PAYLOAD))
    end
    return block.summary .. " [reassembled from " .. plural(count, "segment") .. "]"
end

-- Why the message of the segments is not joined, if it is not.
local function not_joined(message)
    if message.broken then
        return string.format("the segment in frame %d stops early; joining would lose its rest", message.broken)
    end
    if message.cut_by then
        return string.format("frame %d brought another message before the last segment", message.cut_by)
    end
end

-- The segment's place in its message and what became of the message;
-- returns the summary of the joined message on the frame that completes it.
local function add_segment_info(root, tree, pinfo, record, block, dict)
    if record.cut then
        root:add_proto_expert_info(e.segment_mismatch, string.format("Segment of message 0x%02x while message " ..
            "0x%02x from frame %d still expects its last segment: not joined to it", block.id, record.cut.id,
            record.cut.frames[1]))
    end
    local message = record.message
    if not message then return nil end
    root:add(f.segment_number, record.index):set_generated()
    local why = not_joined(message)
    if why then
        root:add_proto_expert_info(e.not_reassembled, string.format("Message 0x%02x from frame %d not " ..
            "reassembled: %s", message.id, message.frames[1], why))
        return nil
    end
    if message.completed == pinfo.number then return add_joined(tree, message, dict) end
    if message.completed then
        root:add(f.reassembled_in, message.completed):set_generated()
    elseif pinfo.visited then
        root:add_proto_expert_info(e.incomplete, string.format("Message 0x%02x from frame %d: its last segment " ..
            "(flag 0x80 clear) has not been seen", message.id, message.frames[1]))
    end
    return nil
end

function vmsg.dissector(tvb, pinfo, tree)
    local size = tvb:len()
    pinfo.cols.protocol = "VMSG"
    local dict = current_dictionary()
    if size < MESSAGE_HEADER_SIZE then
        local root = tree:add(vmsg, tvb:range(0, size))
        root:add_proto_expert_info(e.short_block,
            "A block needs at least 2 bytes (message id and flags), found " .. size)
        add_dictionary_refusal(root)
        pinfo.cols.info = "Block of " .. plural(size, "byte") .. " [malformed]"
        return size
    end
    local root, block = dissect_block(tvb, tree, dict, true)
    add_dictionary_refusal(root)
    local record = segment_record(pinfo, tvb, block)
    local joined = record and add_segment_info(root, tree, pinfo, record, block, dict)
    local more = bit32.band(block.flags, MORE_SEGMENTS) ~= 0
    pinfo.cols.info = (joined or block.summary) .. (more and " [more segments]" or "") ..
        (block.stopped and " [malformed: " .. block.stopped .. "]" or "")
    return size
end

------------------------------------------------------------------------
-- Registration

local udp_ports = DissectorTable.get("udp.port")
local registered_port = 0

local function register_port(port)
    if port == registered_port then return end
    if registered_port ~= 0 then udp_ports:remove(registered_port, vmsg) end
    if port ~= 0 then udp_ports:add(port, vmsg) end
    registered_port = port
end

function vmsg.prefs_changed()
    register_port(vmsg.prefs.port)
end

register_port(DEFAULT_PORT)
-- Listed under Decode As for any UDP port, also with the port preference 0.
udp_ports:add_for_decode_as(vmsg)
