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
-- Load it with `tshark -X lua_script:vmsg.lua` or copy it into the personal
-- Lua plugins folder. Preferences: vmsg.port (UDP port, 47800 by default,
-- 0 for none) and vmsg.dictionary (a JSON dictionary file, the one that
-- `vmsg decode --dict` reads, for message and tag names).

local vmsg = Proto("vmsg", "libvmsg message")

local MESSAGE_HEADER_SIZE = 2
local TAG_HEADER_SIZE = 4
local MORE_SEGMENTS = 0x80
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
}
vmsg.fields = {
    f.msg_id, f.msg_name, f.flags, f.more, f.other_flags, f.tag, f.tag_id, f.tag_name, f.tag_type,
    f.tag_length, f.text, f.u32, f.u16, f.u8, f.f32, f.bytes, f.ignored, f.dropped, f.unparsed,
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
}
vmsg.experts = {
    e.short_block, e.short_header, e.length_beyond_block, e.unknown_type_code, e.short_fixed_value,
    e.ignored, e.text_without_nul, e.dropped, e.unknown_message, e.missing_tag, e.type_differs,
}

vmsg.prefs.port = Pref.uint("UDP port", DEFAULT_PORT,
    "UDP port of message blocks (0: none; Decode As still works)")
vmsg.prefs.dictionary = Pref.string("Dictionary file", "",
    "JSON dictionary with message and tag names, as read by 'vmsg decode --dict' (empty: numbers only)")

------------------------------------------------------------------------
-- A small JSON reader: Wireshark's Lua has none built in.

local json_null = setmetatable({}, { __tostring = function() return "null" end })

local JsonReader = {}
JsonReader.__index = JsonReader

local JSON_ESCAPES = {
    ['"'] = '"', ["\\"] = "\\", ["/"] = "/", b = "\b", f = "\f", n = "\n", r = "\r", t = "\t",
}

function JsonReader:fail(what)
    local line = 1
    for _ in self.text:sub(1, self.pos - 1):gmatch("\n") do line = line + 1 end
    error({ json = true, message = "line " .. line .. ": " .. what }, 0)
end

function JsonReader:skip_space()
    self.pos = self.text:find("[^ \t\r\n]", self.pos) or #self.text + 1
end

function JsonReader:peek()
    self:skip_space()
    return self.text:sub(self.pos, self.pos)
end

function JsonReader:expect(char)
    if self:peek() ~= char then
        self:fail("expected '" .. char .. "', found " .. self:found())
    end
    self.pos = self.pos + 1
end

function JsonReader:found()
    local c = self.text:sub(self.pos, self.pos)
    return c == "" and "the end of the text" or "'" .. c .. "'"
end

local function utf8_char(code)
    if code < 0x80 then return string.char(code) end
    if code < 0x800 then return string.char(0xc0 + math.floor(code / 0x40), 0x80 + code % 0x40) end
    if code < 0x10000 then
        return string.char(0xe0 + math.floor(code / 0x1000), 0x80 + math.floor(code / 0x40) % 0x40,
            0x80 + code % 0x40)
    end
    return string.char(0xf0 + math.floor(code / 0x40000), 0x80 + math.floor(code / 0x1000) % 0x40,
        0x80 + math.floor(code / 0x40) % 0x40, 0x80 + code % 0x40)
end

function JsonReader:hex4()
    local digits = self.text:match("^%x%x%x%x", self.pos)
    if not digits then self:fail("expected 4 hex digits after \\u") end
    self.pos = self.pos + 4
    return tonumber(digits, 16)
end

-- A \u escape, joining a surrogate pair into one character.
function JsonReader:unicode_escape()
    local code = self:hex4()
    if code >= 0xd800 and code < 0xdc00 and self.text:sub(self.pos, self.pos + 1) == "\\u" then
        self.pos = self.pos + 2
        local low = self:hex4()
        if low < 0xdc00 or low > 0xdfff then self:fail("expected a low surrogate after a high one") end
        code = 0x10000 + (code - 0xd800) * 0x400 + (low - 0xdc00)
    end
    return utf8_char(code)
end

function JsonReader:string()
    self:expect('"')
    local parts = {}
    while true do
        local stop = self.text:find('["\\%c]', self.pos)
        if not stop then self:fail("unterminated string") end
        parts[#parts + 1] = self.text:sub(self.pos, stop - 1)
        local c = self.text:sub(stop, stop)
        self.pos = stop + 1
        if c == '"' then return table.concat(parts) end
        if c ~= "\\" then
            self.pos = stop
            self:fail("control character in a string")
        end
        local escape = self.text:sub(self.pos, self.pos)
        self.pos = self.pos + 1
        if escape == "u" then
            parts[#parts + 1] = self:unicode_escape()
        elseif JSON_ESCAPES[escape] then
            parts[#parts + 1] = JSON_ESCAPES[escape]
        else
            self.pos = self.pos - 1
            self:fail("unknown escape \\" .. escape)
        end
    end
end

function JsonReader:number()
    local text = self.text:match("^-?%d+%.?%d*[eE]?[-+]?%d*", self.pos)
    local value = text and tonumber(text)
    if not value then self:fail("expected a value, found " .. self:found()) end
    self.pos = self.pos + #text
    return value
end

function JsonReader:sequence(close, read_item)
    self.pos = self.pos + 1
    if self:peek() == close then
        self.pos = self.pos + 1
        return
    end
    repeat
        read_item()
        local c = self:peek()
        self.pos = self.pos + 1
        if c ~= "," and c ~= close then
            self.pos = self.pos - 1
            self:fail("expected ',' or '" .. close .. "', found " .. self:found())
        end
    until c == close
end

function JsonReader:value()
    local c = self:peek()
    if c == "{" then
        local object = {}
        self:sequence("}", function()
            if self:peek() ~= '"' then self:fail("expected a member name, found " .. self:found()) end
            local key = self:string()
            self:expect(":")
            object[key] = self:value()
        end)
        return object
    elseif c == "[" then
        local array = {}
        self:sequence("]", function() array[#array + 1] = self:value() end)
        return array
    elseif c == '"' then
        return self:string()
    end
    for word, value in pairs({ ["true"] = true, ["false"] = false, ["null"] = json_null }) do
        if self.text:sub(self.pos, self.pos + #word - 1) == word then
            self.pos = self.pos + #word
            return value
        end
    end
    return self:number()
end

-- The value of a JSON text, or nil and a message naming the line.
local function json_decode(text)
    local reader = setmetatable({ text = text, pos = 1 }, JsonReader)
    local ok, result = pcall(function()
        local value = reader:value()
        if reader:peek() ~= "" then reader:fail("unexpected text after the value") end
        return value
    end)
    if ok then return result end
    if type(result) == "table" and result.json then return nil, result.message end
    error(result, 0)
end

------------------------------------------------------------------------
-- The dictionary: message and tag names by id

local TYPE_CODES = {}
for code, name in pairs(TYPE_NAMES) do TYPE_CODES[name] = code end

local function dictionary_id(entry, where)
    local id = type(entry) == "table" and entry.id
    if type(id) ~= "number" or id % 1 ~= 0 or id < 0 or id > 255 then
        error(where .. ": expected an object with an integer \"id\" from 0 to 255", 0)
    end
    return id
end

-- The array member KEY of OBJECT (at WHERE), empty when absent.
local function dictionary_list(object, key, where)
    local list = object[key]
    if list == nil then return {} end
    if type(list) ~= "table" or (next(list) ~= nil and list[1] == nil) then
        error(where .. key .. ": expected an array", 0)
    end
    return list
end

-- Required tags are tag ids or names of entries of "tags".
local function required_ids(entry, where, tag_ids)
    local ids = {}
    for i, item in ipairs(dictionary_list(entry, "required", where .. ".")) do
        local id = type(item) == "string" and tag_ids[item] or item
        if type(id) ~= "number" then
            error(where .. ".required[" .. (i - 1) .. "]: expected a tag id or the name of a tag", 0)
        end
        ids[#ids + 1] = id
    end
    return ids
end

-- Builds the lookup tables from a decoded dictionary document; the first
-- entry with an id wins, as in the tool.
local function build_dictionary(doc)
    if type(doc) ~= "table" then error("expected an object at the top", 0) end
    local dict = { messages = {}, tags = {} }
    local tag_ids = {}
    for i, entry in ipairs(dictionary_list(doc, "tags", "")) do
        local where = "tags[" .. (i - 1) .. "]"
        local id = dictionary_id(entry, where)
        if type(entry.name) ~= "string" then error(where .. ": expected a \"name\"", 0) end
        if dict.tags[id] == nil then
            dict.tags[id] = { name = entry.name, type = TYPE_CODES[entry.type] }
        end
        if tag_ids[entry.name] == nil then tag_ids[entry.name] = id end
    end
    for i, entry in ipairs(dictionary_list(doc, "messages", "")) do
        local where = "messages[" .. (i - 1) .. "]"
        local id = dictionary_id(entry, where)
        if dict.messages[id] == nil then
            dict.messages[id] = { name = type(entry.name) == "string" and entry.name or nil,
                                  required = required_ids(entry, where, tag_ids) }
        end
    end
    return dict
end

-- The dictionary of the preference, read again when the path changes.
-- A file that cannot be read is reported once; the dissector then shows
-- numbers only.
local loaded = { path = "", dict = nil }

local function read_dictionary(path)
    local file, why = io.open(path, "rb")
    if not file then return nil, why end
    local text = file:read("*a")
    file:close()
    local doc, message = json_decode(text)
    if doc == nil then return nil, path .. ": " .. message end
    local ok, result = pcall(build_dictionary, doc)
    if not ok then return nil, path .. ": " .. tostring(result) end
    return result
end

local function current_dictionary()
    local path = vmsg.prefs.dictionary or ""
    if path ~= loaded.path then
        loaded.path, loaded.dict = path, nil
        if path ~= "" then
            local dict, why = read_dictionary(path)
            if dict then
                loaded.dict = dict
            else
                report_failure("vmsg dissector: cannot use the dictionary " .. why)
            end
        end
    end
    return loaded.dict
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

local function add_tag(tree, tvb, pos, dict)
    local id, code, declared = tvb(pos, 1):uint(), tvb(pos + 1, 1):uint(), tvb(pos + 2, 2):uint()
    local subtree = tree:add(f.tag, tvb(pos, TAG_HEADER_SIZE + declared))
    local _, type_item = add_tag_header(subtree, tvb, pos, dict)
    local summary = add_value(subtree, code, tvb, pos + TAG_HEADER_SIZE, declared)
    subtree:set_text(tag_label(id, dict) .. ", " .. TYPE_NAMES[code] .. (summary and ": " .. summary or ""))
    local def = dict and dict.tags[id]
    if def and def.type and def.type ~= code then
        type_item:add_proto_expert_info(e.type_differs,
            "The dictionary declares " .. def.name .. " as " .. TYPE_NAMES[def.type])
    end
    return id
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

local function add_message_header(tree, tvb, dict)
    local id = tvb(0, 1):uint()
    local def = dict and dict.messages[id]
    local id_item = tree:add(f.msg_id, tvb(0, 1))
    if def and def.name then tree:add(f.msg_name, tvb(0, 1), def.name):set_generated() end
    local flags_item = tree:add(f.flags, tvb(1, 1))
    flags_item:add(f.more, tvb(1, 1))
    flags_item:add(f.other_flags, tvb(1, 1))
    if dict and not def then
        id_item:add_proto_expert_info(e.unknown_message,
            string.format("Message id 0x%02x is not in the dictionary; a receiving endpoint refuses it", id))
    end
    return def
end

function vmsg.dissector(tvb, pinfo, tree)
    local size = tvb:len()
    pinfo.cols.protocol = "VMSG"
    local root = tree:add(vmsg, tvb:range(0, size))
    if size < MESSAGE_HEADER_SIZE then
        root:add_proto_expert_info(e.short_block,
            "A block needs at least 2 bytes (message id and flags), found " .. size)
        pinfo.cols.info = "Block of " .. plural(size, "byte") .. " [malformed]"
        return size
    end
    local dict = current_dictionary()
    local def = add_message_header(root, tvb, dict)
    local ids, pos, stopped = {}, MESSAGE_HEADER_SIZE, nil
    while pos < size do
        local expert_info, target, text = refusal(tvb, pos)
        if expert_info then
            add_stop(root, tvb, pos, dict, expert_info, target, text)
            stopped = text
            break
        end
        ids[#ids + 1] = add_tag(root, tvb, pos, dict)
        pos = pos + TAG_HEADER_SIZE + tvb(pos + 2, 2):uint()
    end
    if def then check_required(root, def, ids, dict) end

    local id, flags = tvb(0, 1):uint(), tvb(1, 1):uint()
    local name = def and def.name and " " .. def.name or ""
    local summary = string.format("Message 0x%02x%s, flags 0x%02x, %s", id, name, flags, plural(#ids, "tag"))
    root:append_text(", " .. summary)
    pinfo.cols.info = summary .. (bit32.band(flags, MORE_SEGMENTS) ~= 0 and " [more segments]" or "") ..
        (stopped and " [malformed: " .. stopped .. "]" or "")
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
