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
-- With a dictionary it names messages and tags, marks unknown message ids
-- and missing required tags, and groups the tags into the objects their
-- meta tags open, as the library's structured view does. The segments of
-- a message are joined, per direction of a conversation, and the joined
-- message is shown on its last segment.
--
-- Load it with `tshark -X lua_script:vmsg.lua` or copy it into the personal
-- Lua plugins folder. Preferences: vmsg.port (UDP port, 47800 by default,
-- 0 for none) and vmsg.dictionary (a JSON dictionary file, checked by the
-- rules of `vmsg dict check`).

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
    e.dictionary_refused, e.dictionary_unreadable, e.structure_refused, e.segment_mismatch,
    e.not_reassembled, e.incomplete, e.oversized,
}

vmsg.prefs.port = Pref.uint("UDP port", DEFAULT_PORT,
    "UDP port of message blocks (0: none; Decode As still works)")
vmsg.prefs.dictionary = Pref.string("Dictionary file", "",
    "JSON dictionary with message and tag names and meta tags, checked as 'vmsg dict check' does " ..
    "(empty: numbers only)")

------------------------------------------------------------------------
-- JSON, with the line of every value
--
-- Wireshark's Lua has no JSON reader. This one is as strict as the tool's
-- (RFC 8259: no comments, no trailing commas, well-formed UTF-8 in
-- strings, a leading byte order mark skipped, a number too large for a
-- double refused), keeps the last value of a key given twice and notes
-- the repetition, and records the line of every value under its JSON path
-- ("tags[2].type"; "" for the whole text) for the dictionary's problems.
-- Values are tables with a kind:
--   { kind = "object", members = { [key] = value }, keys = { sorted keys } }
--   { kind = "array", items = { value, ... } }
--   { kind = "string", value = "text" }
--   { kind = "number", value = 1.5, integer = false }; an integer (no
--     fraction or exponent, within 64 bits) also has its text
--   { kind = "boolean", value = true }, { kind = "null" }

-- Strings compared byte by byte: Lua's < follows the locale's collation.
local function bytewise_less(a, b)
    local i = 1
    while true do
        local x, y = a:byte(i), b:byte(i)
        if x ~= y then return x == nil or (y ~= nil and x < y) end
        if x == nil then return false end
        i = i + 1
    end
end

local JSON_ESCAPES = {
    ['"'] = '"', ["\\"] = "\\", ["/"] = "/", b = "\b", f = "\f", n = "\n", r = "\r", t = "\t",
}
local JSON_LITERALS = {
    ["true"] = { kind = "boolean", value = true },
    ["false"] = { kind = "boolean", value = false },
    ["null"] = { kind = "null" },
}
-- Well-formed UTF-8 (RFC 3629): the ranges of the bytes that follow each
-- lead byte.
local UTF8_TAILS = {}
do
    local tail = { 0x80, 0xbf }
    local function lead(first, last, ...)
        for byte = first, last do UTF8_TAILS[byte] = { ... } end
    end
    lead(0xc2, 0xdf, tail)
    lead(0xe0, 0xe0, { 0xa0, 0xbf }, tail)
    lead(0xe1, 0xec, tail, tail)
    lead(0xed, 0xed, { 0x80, 0x9f }, tail)
    lead(0xee, 0xef, tail, tail)
    lead(0xf0, 0xf0, { 0x90, 0xbf }, tail, tail)
    lead(0xf1, 0xf3, tail, tail, tail)
    lead(0xf4, 0xf4, { 0x80, 0x8f }, tail, tail)
end

local JsonReader = {}
JsonReader.__index = JsonReader

local function json_reader(text)
    local starts = { 1 }
    for at in text:gmatch("\n()") do starts[#starts + 1] = at end
    return setmetatable({ text = text, pos = 1, starts = starts, lines = {}, repeated = {} }, JsonReader)
end

function JsonReader:line_at(pos)
    local low, high = 1, #self.starts
    while low < high do
        local mid = math.floor((low + high + 1) / 2)
        if self.starts[mid] <= pos then low = mid else high = mid - 1 end
    end
    return low
end

function JsonReader:fail(what, pos)
    pos = math.max(1, math.min(pos or self.pos, #self.text))
    local line = self:line_at(pos)
    error({ syntax = true, line = line, column = pos - self.starts[line] + 1, message = what }, 0)
end

function JsonReader:found(pos)
    pos = pos or self.pos
    local c = self.text:sub(pos, pos)
    if c == "" then return "the end of the text" end
    return c:match("^[ -~]$") and "'" .. c .. "'" or string.format("byte 0x%02x", c:byte())
end

function JsonReader:skip_space()
    self.pos = self.text:find("[^ \t\r\n]", self.pos) or #self.text + 1
end

function JsonReader:peek()
    self:skip_space()
    return self.text:sub(self.pos, self.pos)
end

function JsonReader:expect(char)
    if self:peek() ~= char then self:fail("expected '" .. char .. "', found " .. self:found()) end
    self.pos = self.pos + 1
end

-- After a member or an item: true after ',', false after CLOSE.
function JsonReader:separator(close)
    local c = self:peek()
    if c ~= "," and c ~= close then self:fail("expected ',' or '" .. close .. "', found " .. self:found()) end
    self.pos = self.pos + 1
    return c == ","
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

-- Refuses bytes of a string between FIRST and LAST that are not UTF-8.
function JsonReader:check_utf8(first, last)
    local text, i = self.text, first
    while true do
        i = text:find("[\128-\255]", i)
        if not i or i > last then return end
        local tails = UTF8_TAILS[text:byte(i)]
        for k, range in ipairs(tails or { false }) do
            local byte = range and i + k <= last and text:byte(i + k)
            if not byte or byte < range[1] or byte > range[2] then
                self:fail("ill-formed UTF-8 in a string", i)
            end
        end
        i = i + #tails + 1
    end
end

function JsonReader:hex4()
    local digits = self.text:match("^%x%x%x%x", self.pos)
    if not digits then self:fail("expected 4 hex digits after \\u, found " .. self:found()) end
    self.pos = self.pos + 4
    return tonumber(digits, 16)
end

-- A \u escape; a surrogate pair makes one character, half of one is refused.
function JsonReader:unicode_escape()
    local code = self:hex4()
    if code >= 0xdc00 and code <= 0xdfff then
        self:fail(string.format("surrogate \\u%04x without a high surrogate before it", code), self.pos - 1)
    end
    if code >= 0xd800 and code <= 0xdbff then
        local low = self.text:sub(self.pos, self.pos + 1) == "\\u" and
            tonumber(self.text:match("^%x%x%x%x", self.pos + 2) or "", 16)
        if not low or low < 0xdc00 or low > 0xdfff then
            self:fail(string.format("surrogate \\u%04x without a low surrogate after it", code), self.pos - 1)
        end
        self.pos = self.pos + 6
        code = 0x10000 + (code - 0xd800) * 0x400 + (low - 0xdc00)
    end
    return utf8_char(code)
end

function JsonReader:string()
    local parts = {}
    self.pos = self.pos + 1
    while true do
        local stop = self.text:find('[\0-\31"\\]', self.pos)
        if not stop then self:fail("expected '\"' to end the string, found the end of the text", #self.text) end
        self:check_utf8(self.pos, stop - 1)
        parts[#parts + 1] = self.text:sub(self.pos, stop - 1)
        local c = self.text:sub(stop, stop)
        self.pos = stop + 1
        if c == '"' then return table.concat(parts) end
        if c ~= "\\" then self:fail("expected '\"' to end the string, found " .. self:found(stop), stop) end
        local escape = self.text:sub(self.pos, self.pos)
        self.pos = self.pos + 1
        if escape == "u" then
            parts[#parts + 1] = self:unicode_escape()
        elseif JSON_ESCAPES[escape] then
            parts[#parts + 1] = JSON_ESCAPES[escape]
        else
            self:fail("expected an escape (\\\" \\\\ \\/ \\b \\f \\n \\r \\t \\uXXXX), found " ..
                self:found(self.pos - 1), self.pos - 1)
        end
    end
end

-- Whether the digits (with an optional '-') are a 64-bit integer, signed
-- or unsigned, as the tool's parser keeps an integer.
local function fits_64_bits(digits)
    local negative = digits:sub(1, 1) == "-"
    local magnitude = negative and digits:sub(2) or digits
    local limit = negative and "9223372036854775808" or "18446744073709551615"
    return #magnitude < #limit or (#magnitude == #limit and not bytewise_less(limit, magnitude))
end

function JsonReader:number()
    local text, start = self.text, self.pos
    local whole = text:match("^-?0", start) or text:match("^-?[1-9]%d*", start)
    if not whole then self:fail("expected a digit after '-', found " .. self:found(start + 1), start + 1) end
    local pos = start + #whole
    local fraction = text:match("^%.%d*", pos)
    if fraction then
        if #fraction == 1 then self:fail("expected a digit after '.', found " .. self:found(pos + 1), pos + 1) end
        pos = pos + #fraction
    end
    local exponent = text:match("^[eE][-+]?%d*", pos)
    if exponent then
        if not exponent:match("%d$") then
            self:fail("expected a digit in the exponent, found " .. self:found(pos + #exponent), pos + #exponent)
        end
        pos = pos + #exponent
    end
    self.pos = pos
    local lexeme = text:sub(start, pos - 1)
    local value = tonumber(lexeme)
    if not fraction and not exponent and fits_64_bits(whole) then
        return { kind = "number", value = value, integer = true, text = whole == "-0" and "0" or whole }
    end
    if value == math.huge or value == -math.huge then self:fail("number overflow: " .. lexeme, start) end
    return { kind = "number", value = value, integer = false }
end

function JsonReader:object(path)
    local members, keys = {}, {}
    self.pos = self.pos + 1
    if self:peek() == "}" then
        self.pos = self.pos + 1
    else
        repeat
            if self:peek() ~= '"' then self:fail("expected a key in double quotes, found " .. self:found()) end
            local key = self:string()
            local child = path == "" and key or path .. "." .. key
            if members[key] then
                self.repeated[#self.repeated + 1] = child
            else
                keys[#keys + 1] = key
            end
            self:expect(":")
            members[key] = self:value(child)
        until not self:separator("}")
    end
    table.sort(keys, bytewise_less)
    return { kind = "object", members = members, keys = keys }
end

function JsonReader:array(path)
    local items = {}
    self.pos = self.pos + 1
    if self:peek() == "]" then
        self.pos = self.pos + 1
    else
        repeat
            items[#items + 1] = self:value(path .. "[" .. #items .. "]")
        until not self:separator("]")
    end
    return { kind = "array", items = items }
end

function JsonReader:value(path)
    local c = self:peek()
    self.lines[path] = self:line_at(self.pos)
    if c == "{" then return self:object(path) end
    if c == "[" then return self:array(path) end
    if c == '"' then return { kind = "string", value = self:string() } end
    if c == "-" or c:match("^%d$") then return self:number() end
    for word, value in pairs(JSON_LITERALS) do
        if self.text:sub(self.pos, self.pos + #word - 1) == word then
            self.pos = self.pos + #word
            return value
        end
    end
    self:fail("expected a value, found " .. self:found())
end

-- The value of the whole text, or an error { syntax = true, ... }.
function JsonReader:document()
    if self.text:sub(1, 3) == "\239\187\191" then self.pos = 4 end
    local value = self:value("")
    if self:peek() ~= "" then self:fail("expected the end of the text, found " .. self:found()) end
    return value
end

-- A double as the tool's JSON library writes it: the shortest digits that
-- read back as the same double, in fixed notation for decimal exponents
-- from -4 to 14 (".0" marking a whole number), else as d.ddde+XX.
local function json_float_text(x)
    if x ~= x then return "null" end
    if x == 0 then return 1 / x < 0 and "-0.0" or "0.0" end
    local sign = x < 0 and "-" or ""
    x = math.abs(x)
    local mantissa, exponent
    for precision = 0, 16 do
        local text = string.format("%." .. precision .. "e", x)
        if tonumber(text) == x then
            mantissa, exponent = text:match("^([%d.]+)e([-+]%d+)$")
            break
        end
    end
    local digits = mantissa:gsub("%.", "")
    local k, n = #digits, tonumber(exponent) + 1
    if k <= n and n <= 15 then return sign .. digits .. string.rep("0", n - k) .. ".0" end
    if 0 < n and n <= 15 then return sign .. digits:sub(1, n) .. "." .. digits:sub(n + 1) end
    if -4 < n and n <= 0 then return sign .. "0." .. string.rep("0", -n) .. digits end
    local power = math.abs(n - 1)
    return sign .. digits:sub(1, 1) .. (k > 1 and "." .. digits:sub(2) or "") .. "e" ..
        (n - 1 < 0 and "-" or "+") .. (power < 10 and "0" or "") .. power
end

local DUMP_ESCAPES = {
    ['"'] = '\\"', ["\\"] = "\\\\", ["\b"] = "\\b", ["\f"] = "\\f", ["\n"] = "\\n", ["\r"] = "\\r", ["\t"] = "\\t",
}

local function json_quoted(text)
    return '"' .. text:gsub('[\0-\31"\\]', function(c)
        return DUMP_ESCAPES[c] or string.format("\\u%04x", c:byte())
    end) .. '"'
end

-- A value as compact JSON, keys in byte order.
local function json_text(value)
    local kind = value.kind
    if kind == "object" then
        local parts = {}
        for i, key in ipairs(value.keys) do parts[i] = json_quoted(key) .. ":" .. json_text(value.members[key]) end
        return "{" .. table.concat(parts, ",") .. "}"
    elseif kind == "array" then
        local parts = {}
        for i, item in ipairs(value.items) do parts[i] = json_text(item) end
        return "[" .. table.concat(parts, ",") .. "]"
    elseif kind == "string" then
        return json_quoted(value.value)
    elseif kind == "number" then
        return value.integer and value.text or json_float_text(value.value)
    end
    return tostring(kind == "boolean" and value.value or "null")
end

-- A value in a problem: compact JSON, cut to 40 bytes; a cut never splits
-- a character.
local function shown(value)
    local text = json_text(value)
    if #text <= 40 then return text end
    text = text:sub(1, 37)
    local lead = text:match(".*()[\192-\255]")
    if lead then
        local byte = text:byte(lead)
        local size = byte >= 0xf0 and 4 or byte >= 0xe0 and 3 or 2
        if #text - lead + 1 < size then text = text:sub(1, lead - 1) end
    end
    return text .. "..."
end

------------------------------------------------------------------------
-- The dictionary: the rules of `vmsg dict check`
--
-- These are the tool's rules, in the tool's order and with its texts
-- (docs/dictionary.md): every problem is collected with its path and
-- line, and an entry with a bad field still defines what its good fields
-- say, so one mistake is reported once. A file with any problem is
-- refused as a whole.

local TYPE_CODES = {}
local TYPE_NAME_LIST = {}
for code = 0, #TYPES do
    TYPE_CODES[TYPES[code].name] = code
    TYPE_NAME_LIST[#TYPE_NAME_LIST + 1] = TYPES[code].name
end
TYPE_NAME_LIST = table.concat(TYPE_NAME_LIST, ", ")

local Checker = {}
Checker.__index = Checker

function Checker:problem(path, message)
    local problems = self.problems
    problems[#problems + 1] = { path = path, line = self:line(path), message = message, order = #problems + 1 }
end

-- The line of the value at PATH, or of the nearest value around it.
function Checker:line(path)
    while true do
        local line = self.lines[path]
        if line then return line end
        if path == "" then return 1 end
        local cut = path:match(".*()[%.%[]")
        path = cut and path:sub(1, cut - 1) or ""
    end
end

local function child_path(path, key)
    return path == "" and key or path .. "." .. key
end

-- An object with only the allowed KEYS and all the REQUIRED ones.
function Checker:object(value, path, keys, required)
    local list = table.concat(keys, ", ")
    if value.kind ~= "object" then
        self:problem(path, "expected an object with the keys " .. list .. ", found " .. shown(value))
        return false
    end
    local allowed = {}
    for _, key in ipairs(keys) do allowed[key] = true end
    for _, key in ipairs(value.keys) do
        if not allowed[key] then
            self:problem(child_path(path, key), "unknown key '" .. key .. "'; expected one of " .. list)
        end
    end
    for _, key in ipairs(required) do
        if not value.members[key] then self:problem(path, "missing key '" .. key .. "'") end
    end
    return true
end

-- The entries of the list KEY of the root; none when absent or not a list.
function Checker:list(root, key)
    local value = root.kind == "object" and root.members[key]
    if not value then return {} end
    if value.kind ~= "array" then
        self:problem(key, "expected a list of entries, found " .. shown(value))
        return {}
    end
    if #value.items > 255 then self:problem(key, "expected at most 255 entries, found " .. #value.items) end
    return value.items
end

function Checker:id(value, path)
    if value.kind ~= "number" or not value.integer or value.value < 0 or value.value > 255 then
        self:problem(path, "expected an id from 0 to 255, found " .. shown(value))
        return nil
    end
    return value.value
end

function Checker:name(value, path)
    if value.kind ~= "string" or not value.value:match("^[A-Za-z_][A-Za-z0-9_]*$") then
        self:problem(path, "expected a name (a letter or '_', then letters, digits or '_'), found " .. shown(value))
        return nil
    end
    return value.value
end

function Checker:type(value, path)
    local code = value.kind == "string" and TYPE_CODES[value.value]
    if not code then
        self:problem(path, "expected a type name (" .. TYPE_NAME_LIST .. "), found " .. shown(value))
        return nil
    end
    return code
end

function Checker:flag(value, path)
    if value.kind ~= "boolean" then
        self:problem(path, "expected true or false, found " .. shown(value))
        return nil
    end
    return value.value
end

-- A function that takes a key with the text and path of its use and
-- refuses a second use, naming the line of the first.
function Checker:unique(what)
    local first = {}
    return function(key, text, path)
        if first[key] then
            self:problem(path, "duplicate " .. what .. " " .. text .. " (first at line " .. self:line(first[key]) .. ")")
            return false
        end
        first[key] = path
        return true
    end
end

-- The good fields of the entry at PATH: each KEY read with its checker.
function Checker:fields(entry, path, readers)
    local values = {}
    for key, read in pairs(readers) do
        local value = entry.members[key]
        if value then values[key] = read(self, value, path .. "." .. key) end
    end
    return values
end

local function read_tags(check, root)
    local tags = {}
    local ids, names = check:unique("tag id"), check:unique("tag name")
    for i, entry in ipairs(check:list(root, "tags")) do
        local path = "tags[" .. (i - 1) .. "]"
        if check:object(entry, path, { "id", "name", "type", "deprecated" }, { "id", "name", "type" }) then
            local tag = check:fields(entry, path,
                { id = Checker.id, name = Checker.name, type = Checker.type, deprecated = Checker.flag })
            if tag.id and not ids(tag.id, tostring(tag.id), path .. ".id") then tag.id = nil end
            if tag.name and not names(tag.name, '"' .. tag.name .. '"', path .. ".name") then tag.name = nil end
            if tag.id and tag.name then tags[#tags + 1] = { id = tag.id, name = tag.name, type = tag.type or TYPE_NULL } end
        end
    end
    return tags
end

-- A required tag: the id or the name of an entry of "tags".
local function required_id(check, value, path, index)
    if value.kind == "string" then
        local id = index.by_name[value.value]
        if not id then
            check:problem(path, 'expected a tag id or the name of an entry of "tags", found ' .. shown(value))
        end
        return id
    end
    local id = check:id(value, path)
    if id and not index.by_id[id] then
        check:problem(path, "tag id " .. id .. ' is not in "tags"')
        return nil
    end
    return id
end

-- A list of tag ids or names under KEY of an entry ("required",
-- "optional", "members"): the ids of its good items, and their paths.
local function read_tag_list(check, entry, key, path, index)
    local ids, paths, list = {}, {}, entry.members[key]
    if not list then return ids, paths end
    if list.kind ~= "array" or #list.items > 255 then
        check:problem(path .. "." .. key, "expected a list of at most 255 tag ids or names, found " .. shown(list))
        return ids, paths
    end
    for i, item in ipairs(list.items) do
        local item_path = path .. "." .. key .. "[" .. (i - 1) .. "]"
        local id = required_id(check, item, item_path, index)
        if id then
            ids[#ids + 1] = id
            paths[#paths + 1] = item_path
        end
    end
    return ids, paths
end

-- The optional tags of a message: each once, and none of its required ones.
local function read_optional(check, entry, path, index, required)
    local kept, is_required, seen = {}, {}, {}
    for _, id in ipairs(required) do is_required[id] = true end
    local ids, paths = read_tag_list(check, entry, "optional", path, index)
    for i, id in ipairs(ids) do
        if is_required[id] then
            check:problem(paths[i], "tag " .. id .. " is required; a tag is required or optional, not both")
        elseif seen[id] then
            check:problem(paths[i], "tag " .. id .. " is listed twice")
        else
            seen[id] = true
            kept[#kept + 1] = id
        end
    end
    return kept
end

local function read_messages(check, root, index)
    local messages = {}
    local ids, names = check:unique("message id"), check:unique("message name")
    for i, entry in ipairs(check:list(root, "messages")) do
        local path = "messages[" .. (i - 1) .. "]"
        if check:object(entry, path, { "id", "name", "required", "optional", "deprecated" }, { "id", "name" }) then
            local message = check:fields(entry, path, { id = Checker.id, name = Checker.name, deprecated = Checker.flag })
            local required = read_tag_list(check, entry, "required", path, index)
            message.optional = read_optional(check, entry, path, index, required)
            message.closed = entry.members.optional ~= nil
            if message.id and not ids(message.id, tostring(message.id), path .. ".id") then message.id = nil end
            if message.name and not names(message.name, '"' .. message.name .. '"', path .. ".name") then
                message.name = nil
            end
            if message.id and message.name then
                messages[#messages + 1] = { id = message.id, name = message.name, required = required,
                                            optional = message.optional, closed = message.closed }
            end
        end
    end
    return messages
end

-- A meta entry repeats its tag's name and type, if it gives them at all.
local function check_meta_tag(check, entry, path, id, tag)
    local name, type = entry.members.name, entry.members.type
    if name and not (name.kind == "string" and name.value == tag.name) then
        check:problem(path .. ".name", "expected the name of tag " .. id .. ', "' .. tag.name .. '", found ' .. shown(name))
    end
    local type_name = TYPE_NAMES[tag.type]
    if type and not (type.kind == "string" and type.value == type_name) then
        check:problem(path .. ".type", "expected the type of tag " .. id .. ", " .. type_name .. ", found " .. shown(type))
    end
end

local function read_metas(check, root, index)
    local metas = {}
    local ids = check:unique("meta tag id")
    -- Each member tag belongs to one object: the path of its first listing.
    local member_of = {}
    for i, entry in ipairs(check:list(root, "meta")) do
        local path = "meta[" .. (i - 1) .. "]"
        if check:object(entry, path, { "id", "name", "type", "object", "members" }, { "id" }) then
            local meta = check:fields(entry, path, { id = Checker.id, object = Checker.name })
            local listed = read_tag_list(check, entry, "members", path, index)
            -- nil: not a tag; false: no id, or an id given before.
            local tag = meta.id and ids(meta.id, tostring(meta.id), path .. ".id") and index.by_id[meta.id]
            if meta.id and tag == nil then
                check:problem(path .. ".id", "meta tag " .. meta.id .. ' is not in "tags" (a meta tag is also a tag)')
            elseif tag then
                check_meta_tag(check, entry, path, meta.id, tag)
                local members = {}
                for _, member in ipairs(listed) do
                    if member == meta.id then
                        check:problem(path .. ".members", "tag " .. member .. " opens this object; it is not its own member")
                    elseif member_of[member] then
                        check:problem(path .. ".members", "tag " .. member .. " is already a member of " ..
                            member_of[member] .. " (line " .. check:line(member_of[member]) .. "); a tag belongs to one object")
                    else
                        member_of[member] = path
                        members[#members + 1] = member
                    end
                end
                metas[#metas + 1] = { id = meta.id, object = meta.object or tag.name, members = members }
            end
        end
    end
    return metas
end

-- The file's own "name" (a non-empty text) and "version" (a whole number).
local function read_header(check, root)
    if root.kind ~= "object" then return end
    local name, version = root.members.name, root.members.version
    if name and not (name.kind == "string" and name.value ~= "") then
        check:problem("name", "expected a non-empty text, found " .. shown(name))
    end
    if version and not (version.kind == "number" and version.integer and version.value >= 0) then
        check:problem("version", "expected a whole number from 0, found " .. shown(version))
    end
end

-- The lookup tables of a checked dictionary, by id.
local function dictionary_tables(messages, tags, metas)
    local dict = { messages = {}, tags = {}, metas = {} }
    for _, message in ipairs(messages) do dict.messages[message.id] = message end
    for _, tag in ipairs(tags) do dict.tags[tag.id] = tag end
    for _, meta in ipairs(metas) do dict.metas[meta.id] = meta end
    return dict
end

local function problem_text(problem)
    return problem.line .. ": " .. (problem.path ~= "" and problem.path .. ": " or "") .. problem.message
end

-- Checks a dictionary text. Returns the dictionary, or nil and the texts
-- of its problems ("LINE: PATH: what"), by line, then path; a text that
-- is not JSON has one problem, "LINE:COLUMN: syntax error: what".
local function check_dictionary(text)
    local reader = json_reader(text)
    local ok, root = pcall(reader.document, reader)
    if not ok then
        if type(root) ~= "table" or not root.syntax then error(root, 0) end
        return nil, { root.line .. ":" .. root.column .. ": syntax error: " .. root.message }
    end
    local check = setmetatable({ lines = reader.lines, problems = {} }, Checker)
    for _, path in ipairs(reader.repeated) do check:problem(path, "key given twice") end
    check:object(root, "", { "messages", "tags", "meta", "name", "version" }, {})
    read_header(check, root)
    local tags = read_tags(check, root)
    local index = { by_id = {}, by_name = {} }
    for _, tag in ipairs(tags) do
        index.by_id[tag.id] = tag
        index.by_name[tag.name] = tag.id
    end
    local messages = read_messages(check, root, index)
    local metas = read_metas(check, root, index)
    if #check.problems == 0 then return dictionary_tables(messages, tags, metas) end
    table.sort(check.problems, function(a, b)
        if a.line ~= b.line then return a.line < b.line end
        if a.path ~= b.path then return bytewise_less(a.path, b.path) end
        return a.order < b.order
    end)
    local texts = {}
    for i, problem in ipairs(check.problems) do texts[i] = problem_text(problem) end
    return nil, texts
end

-- The dictionary of the preference, read again when the path changes. A
-- file that cannot be read or is refused is reported once, and every
-- packet then says why it shows numbers only.
local loaded = { path = "", dict = nil, refusal = nil }
-- Problems listed in each packet; the rest are counted.
local LISTED_PROBLEMS = 10

local function load_dictionary(path)
    local file, why = io.open(path, "rb")
    if not file then
        return nil, { expert = e.dictionary_unreadable, texts = { "Dictionary " .. why } }
    end
    local text = file:read("*a")
    file:close()
    local dict, problems = check_dictionary(text)
    if dict then return dict end
    local texts = {}
    for i = 1, math.min(#problems, LISTED_PROBLEMS) do
        texts[i] = "Dictionary " .. path .. (i == 1 and " refused: " or ": ") .. problems[i]
    end
    if #problems > LISTED_PROBLEMS then
        texts[#texts + 1] = "Dictionary " .. path .. ": " .. (#problems - LISTED_PROBLEMS) ..
            " more problems; 'vmsg dict check' lists them all"
    end
    return nil, { expert = e.dictionary_refused, texts = texts }
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

-- Adds the accepted tag at POS; returns its value as text, nil for a null tag.
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
    return summary
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
                     name = meta.object, members = 0 }
    object.item:add(f.object_name, tvb(pos, 1), meta.object):set_generated()
    return object
end

-- Takes the tag of LENGTH bytes at POS into the object: its meta tag
-- names it (META_SUMMARY is that tag's value), a later tag is a member.
local function grow_object(object, tvb, pos, length, meta_summary, dict)
    if pos == object.start then
        local id = tvb(pos, 1):uint()
        local def = dict.tags[id]
        object.label = "Object " .. object.name .. " (tag " .. id .. (def and " " .. def.name or "") ..
            (meta_summary and ": " .. meta_summary or "") .. ")"
    else
        object.members = object.members + 1
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
    if def then tree:add(f.msg_name, tvb(0, 1), def.name):set_generated() end
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
-- meta tags and the library would group them. Returns the tag ids and the
-- text of the parse stop, if any.
local function add_tags(root, tvb, dict)
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
        local summary = add_tag(object and object.item or root, tvb, pos, dict)
        if object then grow_object(object, tvb, pos, length, summary, dict) end
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
    local ids, stopped = add_tags(root, tvb, dict)
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
