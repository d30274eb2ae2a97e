# Reads tshark's PDML output (-T pdml) and prints the facts of every vmsg
# block, in the form tool_facts.cmake prints them for `vmsg decode --json`:
#
#   block 3: message 0x21 [NAME] flags 0x80 more-segments
#     tag 5 [NAME] u8 length 2 value 7
#     object Sensor
#       tag 32 sensor u8 length 1 value 0
#       tag 33 reading f32 length 4 bits 0x41ac0000 text 21.5
#     note vmsg.ignored_payload
#     stop unknown-type-code at 2 tag 5 code 9 length 1
#     unknown-message
#     missing-tag 1
#     unexpected-tag 7
#     segment 2
#     reassembled-in 5
#   joined 5: message 0x21 flags 0x00
#     tag ...
#     segments 3 4 5
#   block 4: short-block
#
# Text and raw bytes are given in hex ("-" when empty), floats by their
# bits and their shortest exact text. An object opens with its name; its
# meta tag and member tags follow, indented. "note" lines are the
# dissector's own remarks; the comparison with the tool leaves them out,
# and with them what the dissector says of segments (segment,
# reassembled-in, segment-mismatch, not-reassembled, incomplete) and the
# joined message, which follows its last segment as "joined N". A packet
# without the vmsg protocol prints "block N: not dissected", and a Lua
# error in the dissector "LUA ERROR".

function attr(line, name,    value) {
    if (!match(line, " " name "=\"[^\"]*\""))
        return ""
    value = substr(line, RSTART + length(name) + 3, RLENGTH - length(name) - 4)
    return value
}

function indent_of(line) {
    match(line, /^ */)
    return RLENGTH
}

function flush_tag(    prefix) {
    if (tag_id == "")
        return
    prefix = tag_nested ? "    " : "  "
    line = prefix "tag " tag_id (tag_name != "" ? " " tag_name : "") " " type_name[tag_type] " length " tag_length
    if (tag_value != "")
        line = line " " tag_value
    facts[++count] = line
    for (i = 1; i <= tag_notes; i++)
        facts[++count] = prefix "note " tag_note[i]
    tag_id = tag_name = tag_type = tag_length = tag_value = ""
    tag_notes = 0
}

# Prints the block (or the joined message) read so far.
function flush_section(    i) {
    flush_tag()
    if (!in_vmsg && !short_block)
        header = "not dissected"
    else if (short_block)
        header = "short-block"
    else
        header = "message " msg_id (msg_name != "" ? " " msg_name : "") " flags " flags (more ? " more-segments" : "")
    print (joined ? "joined " : "block ") block ": " header
    for (i = 1; i <= count; i++)
        print facts[i]
    if (stop_reason != "")
        print "  stop " stop_reason " at " stop_at stop_header
    if (unknown_message)
        print "  unknown-message"
    for (i = 1; i <= missing; i++)
        print "  missing-tag " missing_tag[i]
    for (i = 1; i <= unexpected; i++)
        print "  unexpected-tag " unexpected_tag[i]
    if (segment_list != "")
        print "  segments" segment_list
    for (i = 1; i <= extras; i++)
        print "  " extra[i]
    if (lua_error)
        print "  LUA ERROR"
    start_section()
}

function start_section() {
    short_block = unknown_message = lua_error = in_unparsed = 0
    count = missing = unexpected = tag_notes = extras = 0
    msg_id = msg_name = flags = stop_reason = stop_header = segment_list = ""
    more = tag_nested = 0
    object_indent = -1
    tag_id = tag_name = tag_type = tag_length = tag_value = ""
}

function hex_value(hex) {
    return hex == "" ? "-" : hex
}

BEGIN {
    split("null str u32 u16 u8 bytes f32", names, " ")
    for (code = 0; code < 7; code++)
        type_name[code] = names[code + 1]
    for (code = 7; code < 256; code++)
        type_name[code] = "type-" code
    stop_names["vmsg.short_header"] = "short-header"
    stop_names["vmsg.length_beyond_block"] = "length-beyond-block"
    stop_names["vmsg.unknown_type_code"] = "unknown-type-code"
    stop_names["vmsg.short_fixed_value"] = "short-fixed-value"
    note_names["vmsg.ignored_payload"] = 1
    note_names["vmsg.text_without_nul"] = 1
    note_names["vmsg.dropped_payload"] = 1
    note_names["vmsg.type_differs"] = 1
    note_names["vmsg.deprecated_tag"] = 1
    note_names["vmsg.not_member"] = 1
    extra_names["vmsg.segment_mismatch"] = "segment-mismatch"
    extra_names["vmsg.not_reassembled"] = "not-reassembled"
    extra_names["vmsg.incomplete"] = "incomplete"
    extra_names["vmsg.oversized"] = "oversized"
    extra_names["vmsg.structure_refused"] = "structure-refused"
}

/<packet>/ {
    block++
    in_vmsg = joined = 0
    start_section()
}

/<\/packet>/ { flush_section() }

/Lua Error/ { lua_error = 1 }

# A second vmsg tree in the packet is the message joined from segments.
/<proto name="vmsg"/ && in_vmsg { flush_section(); joined = 1 }
/<proto name="vmsg"/ { in_vmsg = 1; base = attr($0, "pos") }

!in_vmsg { next }

{
    name = attr($0, "name")
    show = attr($0, "show")
    value = attr($0, "value")
    # A field beside the open object, or above it, closes it.
    if (name != "" && object_indent >= 0 && indent_of($0) <= object_indent)
        object_indent = -1
}

name == "vmsg.short_block" { short_block = 1 }
name == "vmsg.msg_id" { msg_id = show }
name == "vmsg.msg_name" { msg_name = show }
name == "vmsg.flags" { flags = show }
name == "vmsg.flags.more" { more = show == "1" }
name == "vmsg.tag" { flush_tag(); in_unparsed = 0; tag_nested = object_indent >= 0 }
name == "vmsg.object" {
    flush_tag()
    object_indent = indent_of($0)
    facts[++count] = "  object"
    object_line = count
}
name == "vmsg.object.name" { facts[object_line] = facts[object_line] " " show }
name == "vmsg.segment.number" { extra[++extras] = "segment " show }
name == "vmsg.reassembled_in" { extra[++extras] = "reassembled-in " show }
name == "vmsg.segment" { segment_list = segment_list " " show }
name in extra_names { extra[++extras] = extra_names[name] }
name == "vmsg.unparsed" {
    flush_tag()
    in_unparsed = 1
    stop_at = attr($0, "pos") - base
    stop_header = ""
}
name == "vmsg.tag.id" {
    if (in_unparsed) stop_header = " tag " show
    else tag_id = show
}
name == "vmsg.tag.name" && !in_unparsed { tag_name = show }
name == "vmsg.tag.type" {
    if (in_unparsed) stop_header = stop_header " code " show
    else tag_type = show
}
name == "vmsg.tag.length" {
    if (in_unparsed) stop_header = stop_header " length " show
    else tag_length = show
}
name == "vmsg.tag.u32" || name == "vmsg.tag.u16" || name == "vmsg.tag.u8" { tag_value = "value " show }
name == "vmsg.tag.f32" {
    text = attr($0, "showname")
    sub(/^Value: /, "", text)
    sub(/ \(bits .*/, "", text)
    tag_value = "bits 0x" value " text " text
}
name == "vmsg.tag.str" || name == "vmsg.tag.bytes" { tag_value = "value " hex_value(value) }
name in stop_names { stop_reason = stop_names[name] }
name in note_names { tag_note[++tag_notes] = name }
name == "vmsg.unknown_message" { unknown_message = 1 }
name == "vmsg.unexpected_tag" {
    text = attr($0, "showname")
    match(text, /^Tag [0-9]+/)
    unexpected_tag[++unexpected] = substr(text, RSTART + 4, RLENGTH - 4)
}
name == "vmsg.missing_tag" {
    text = attr($0, "showname")
    match(text, /tag [0-9]+/)
    missing_tag[++missing] = substr(text, RSTART + 4, RLENGTH - 4)
}
