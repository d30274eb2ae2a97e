#!/usr/bin/env bash
# End-to-end cases of the vmsg program, one per run: e2e.sh CASE.
# Environment: VMSG the program, VMSG_EXAMPLES the examples/ directory,
# VMSG_DEMO the demo program (empty when it is not built).
set -uo pipefail

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# run STATUS ARGS...: runs the program with ARGS, standard output to
# $work/out and standard error to $work/err, and checks its exit status.
run() {
    local want=$1 status
    shift
    "$VMSG" "$@" >"$work/out" 2>"$work/err"
    status=$?
    [[ $status == "$want" ]] || fail "vmsg $*: exit status $status, expected $want; stderr: $(cat "$work/err")"
}

# Standard output, or error, must equal the text on standard input.
same_out() { diff -u - "$work/out" || fail "standard output differs"; }
same_err() { diff -u - "$work/err" || fail "standard error differs"; }
# Standard output, or error, must contain the text.
out_has() { grep -qF -- "$1" "$work/out" || fail "standard output lacks '$1':"$'\n'"$(cat "$work/out")"; }
err_has() { grep -qF -- "$1" "$work/err" || fail "standard error lacks '$1':"$'\n'"$(cat "$work/err")"; }
no_err() { [[ ! -s $work/err ]] || fail "unexpected standard error: $(cat "$work/err")"; }

dict=$VMSG_EXAMPLES/dictionary.json
# The demo's telemetry message, as the demo prints it.
telemetry='10 00 01 02 00 04 00 00 00 2a 02 01 00 07 70 75 6d 70 2d 37 00 03 02 00 04 00 00 0e 10 20 04 00 01 00 21 06 00 04 41 ac 00 00 22 01 00 02 43 00 20 04 00 01 01 21 06 00 04 44 7d 50 00 23 03 00 02 01 02'

case_help() {
    run 0 --help
    out_has 'Usage: vmsg [--verbose] COMMAND'
    local cmd
    for cmd in decode encode segment join send listen dict; do
        run 0 "$cmd" --help
        out_has "Usage: vmsg $cmd"
        no_err
    done
    run 2
    err_has 'Usage: vmsg'
}

case_usage_errors() {
    run 2 frobnicate
    same_err <<'EOF'
vmsg: unknown command 'frobnicate'
Try 'vmsg --help'.
EOF
    run 2 decode --bogus
    same_err <<'EOF'
vmsg decode: unknown option '--bogus'
Try 'vmsg decode --help'.
EOF
    run 2 decode --dict
    err_has 'vmsg decode: option --dict needs a value'
    run 2 decode one two
    err_has 'expected one input file, found 2 arguments'
    run 2 decode "$work/missing.hex"
    same_err <<EOF
vmsg decode: $work/missing.hex: cannot open: No such file or directory
EOF
    run 2 decode "$work"
    err_has "vmsg decode: $work: cannot read: Is a directory"
    run 2 decode <<<'# only a comment'
    err_has 'vmsg decode: stdin: no blocks found'
    run 2 join </dev/null
    err_has 'vmsg join: stdin: no blocks found'
    run 2 segment <<<'21 00'
    err_has 'vmsg segment: missing --frame N'
    run 2 segment --frame 0 <<<'21 00'
    err_has "vmsg segment: --frame: expected a number from 1 to 65535 (decimal or 0x hex), found '0'"
    printf '21 00\n22 00\n' >"$work/two.hex"
    run 2 join --raw "$work/two.hex"
    err_has 'vmsg join: --raw writes one message; the input joins into 2'
}

case_encode_decode() {
    run 0 encode --id 0x21 --flags 0x80 u8:5=7 u16:2=258 u32:1=0x01020304 f32:3=1.5 str:9=hello \
        bytes:4=0a0bff null:7
    same_out <<'EOF'
21 80 05 04 00 01 07 02 03 00 02 01 02 01 02 00 04 01 02 03 04 03 06 00 04 3f c0 00 00 09 01 00 06 68 65 6c 6c 6f 00 04 05 00 03 0a 0b ff 07 00 00 00
EOF
    cp "$work/out" "$work/msg.hex"
    run 0 decode "$work/msg.hex"
    same_out <<EOF
block 1 ($work/msg.hex:1), 50 bytes
message 0x21, flags 0x80 (more-segments), 7 tags, 48 payload bytes
  offset  tag  type   length  value
       2    5  u8          1  7 (0x07)
       7    2  u16         2  258 (0x0102)
      13    1  u32         4  16909060 (0x01020304)
      21    3  f32         4  1.5 (bits 0x3fc00000)
      29    9  str         6  "hello"
      39    4  bytes       3  0a 0b ff
      46    7  null        0  -
EOF
    no_err
    # Through a pipe, and text that needs escapes.
    "$VMSG" encode --id 1 'str:2=tab	"q"' 'f32:3=0.1' | "$VMSG" decode >"$work/out" || fail "pipe failed"
    same_out <<'EOF'
block 1 (stdin:1), 22 bytes
message 0x01, flags 0x00, 2 tags, 20 payload bytes
  offset  tag  type  length  value
       2    2  str        8  "tab\t\"q\""
      14    3  f32        4  0.1 (bits 0x3dcccccd)
EOF
}

case_encode_errors() {
    run 2 encode --id 1 u8:5=300
    same_err <<'EOF'
vmsg encode: tag argument 'u8:5=300': expected a u8 value from 0 to 255 (decimal or 0x hex), found '300'
EOF
    run 2 encode --id 1 u8:5=1 nope
    err_has "vmsg encode: tag argument 'nope': expected TYPE:ID=VALUE or null:ID"
    run 2 encode --id 1 f32:1=1e40
    err_has "tag argument 'f32:1=1e40': '1e40' is beyond the range of f32"
    run 2 encode u8:1=1
    err_has 'vmsg encode: missing --id N'
    run 2 encode --id 256
    err_has "vmsg encode: --id: expected a number from 0 to 255 (decimal or 0x hex), found '256'"
    local big
    big=bytes:1=$(printf '%02036d' 0)
    run 2 encode --id 1 "$big" null:2
    err_has 'vmsg encode: the tags need 1026 payload bytes; a block carries at most 1022'
    [[ ! -s $work/out ]] || fail "output written for a refused message"
}

case_raw_round_trip() {
    "$VMSG" encode --raw --id 0x30 u32:1=7 str:2=raw >"$work/msg.bin" || fail "encode --raw failed"
    [[ $(od -An -tx1 -v "$work/msg.bin" | tr -s ' \n' ' ') == ' 30 00 01 02 00 04 00 00 00 07 02 01 00 04 72 61 77 00 ' ]] ||
        fail "raw block differs: $(od -An -tx1 "$work/msg.bin")"
    run 0 decode --raw "$work/msg.bin"
    out_has "block 1 ($work/msg.bin), 18 bytes"
    out_has '"raw"'
    run 0 segment --raw --frame 11 "$work/msg.bin"
    same_out <<'EOF'
30 80 01 02 00 04 00 00 00 07
30 00 02 01 00 04 72 61 77 00
EOF
    cp "$work/out" "$work/segments.hex"
    run 0 join --raw "$work/segments.hex"
    cmp -s "$work/out" "$work/msg.bin" || fail "joined raw block differs from the original"
}

case_hex_input_errors() {
    printf '21 00\n\n21 0g 00\n' >"$work/bad.hex"
    run 2 decode "$work/bad.hex"
    same_err <<EOF
vmsg decode: $work/bad.hex:3:5: expected a hex digit, found 'g'
EOF
    [[ ! -s $work/out ]] || fail "output written for unreadable input"
    run 2 decode <<<'21 000'
    err_has "vmsg decode: stdin:1:4: odd number of hex digits in '000' (expected two digits per byte)"
    run 2 join <<<'0x'
    err_has 'vmsg join: stdin:1:3: expected hex digits after 0x'
}

case_decode_stops() {
    cat >"$work/stops.hex" <<'EOF'
21 00 05 04 00 01 07 aa bb       # short header
21 00 05 04 00 01 07 06 05 00 09 aa   # length beyond the block
21 00 05 04 00 01 07 06 09 00 01 aa   # unknown type code
21 00 06 02 00 02 00 2a          # u32 declaring 2 bytes
21                               # no room for a header
21 00 05 04 00 01 07             # fine
EOF
    run 1 decode "$work/stops.hex"
    same_out <<EOF
block 1 ($work/stops.hex:1), 9 bytes
message 0x21, flags 0x00, 1 tag, 5 payload bytes
  offset  tag  type  length  value
       2    5  u8         1  7 (0x07)
  parse stopped at byte 7: short tag header (a tag header needs 4 bytes); 2 bytes left unread
    unread: aa bb

block 2 ($work/stops.hex:2), 12 bytes
message 0x21, flags 0x00, 1 tag, 5 payload bytes
  offset  tag  type  length  value
       2    5  u8         1  7 (0x07)
  parse stopped at byte 7: tag 6 declares 9 payload bytes but only 1 follow its header; 5 bytes left unread
    unread: 06 05 00 09 aa

block 3 ($work/stops.hex:3), 12 bytes
message 0x21, flags 0x00, 1 tag, 5 payload bytes
  offset  tag  type  length  value
       2    5  u8         1  7 (0x07)
  parse stopped at byte 7: tag 6 has unknown type code 9 (expected 0 to 6); 5 bytes left unread
    unread: 06 09 00 01 aa

block 4 ($work/stops.hex:4), 8 bytes
message 0x21, flags 0x00, 0 tags, 0 payload bytes
  parse stopped at byte 2: tag 6 of type u32 declares 2 bytes, its value needs 4; 6 bytes left unread
    unread: 06 02 00 02 00 2a

block 5 ($work/stops.hex:5), 1 byte
  error: a block needs at least 2 bytes (message id and flags), found 1

block 6 ($work/stops.hex:6), 7 bytes
message 0x21, flags 0x00, 1 tag, 5 payload bytes
  offset  tag  type  length  value
       2    5  u8         1  7 (0x07)
EOF
    same_err <<'EOF'
vmsg decode: 5 of 6 blocks failed
EOF
    run 0 decode <<<'21 00 05 04 00 01 07'
    no_err
}

case_decode_json() {
    run 1 decode --json <<<'21 00 05 04 00 02 07 08 06 09 00 00'
    out_has '"source": "stdin:1",'
    out_has '"declared_length": 2,'
    out_has '"declares 2 bytes; the value is read from the first 1, ignoring 1 (the library'"'"'s tag has length 1)"'
    out_has '"reason": "unknown-type-code",'
    out_has '"unread_bytes": "06090000"'
    out_has '"failed": 1'
    run 0 decode --json --dict "$dict" <<<"$telemetry"
    out_has '"name": "telemetry"'
    out_has '"accepted": true'
    out_has '"object": "Sensor"'
    out_has '"value": 1013.25,'
    out_has '"failed": 0'
}

case_segment_join() {
    run 0 encode --id 0x11 --flags 0x05 u32:1=42 bytes:49=000102030405060708090a0b0c0d0e0f str:2=hello u8:48=3
    cp "$work/out" "$work/msg.hex"
    run 0 segment --frame 30 "$work/msg.hex"
    same_out <<'EOF'
11 85 01 02 00 04 00 00 00 2a
11 85 31 05 00 10 00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f
11 05 02 01 00 06 68 65 6c 6c 6f 00 30 04 00 01 03
EOF
    cp "$work/out" "$work/segments.hex"
    run 0 join "$work/segments.hex"
    cmp -s "$work/out" "$work/msg.hex" || fail "joined block differs: $(cat "$work/out")"
    # Two messages in one stream, through pipes.
    cat "$work/msg.hex" "$work/msg.hex" | "$VMSG" segment --frame 20 | "$VMSG" join >"$work/out" ||
        fail "segment | join failed"
    cat "$work/msg.hex" "$work/msg.hex" | same_out
    # A frame too small for any tag: an empty first segment, one tag each.
    run 0 segment --frame 6 <<<'21 00 05 04 00 01 07 06 04 00 01 08'
    same_out <<'EOF'
21 80
21 80 05 04 00 01 07
21 00 06 04 00 01 08
EOF
    run 1 segment --frame 100 <<<'21 00 05 04 00 01 07 ff'
    same_err <<'EOF'
vmsg segment: stdin:1: parse stops at byte 7: short tag header (a tag header needs 4 bytes); 1 byte would be lost
EOF
    [[ ! -s $work/out ]] || fail "segments written for a broken block"
}

case_join_errors() {
    run 1 join <<<'21 80 05 04 00 01 07'
    same_err <<'EOF'
vmsg join: stdin:1: input ends before the last segment of message 0x21 (a segment with flag 0x80 clear)
EOF
    printf '21 80 05 04 00 01 07\n22 00 06 04 00 01 08\n' >"$work/mixed.hex"
    run 1 join "$work/mixed.hex"
    same_err <<EOF
vmsg join: $work/mixed.hex:2: segment of message 0x22 while message 0x21 from $work/mixed.hex:1 still expects its last segment
EOF
    run 1 join <<<$'21 80 05 04 00 01 07\n21 00 06 07 00 00'
    err_has 'vmsg join: stdin:2: parse stops at byte 2: tag 6 has unknown type code 7 (expected 0 to 6); 4 bytes would be lost'
}

case_dictionary_demo_block() {
    echo "$telemetry" >"$work/telemetry.hex"
    run 0 decode --dict "$dict" "$work/telemetry.hex"
    same_out <<EOF
block 1 ($work/telemetry.hex:1), 67 bytes
message 0x10 telemetry, flags 0x00, 9 tags, 65 payload bytes
  offset  tag  name     type  length  value
       2    1  device   u32        4  42 (0x0000002a)
      10    2  name     str        7  "pump-7"
      21    3  uptime   u32        4  3600 (0x00000e10)
      29   32  sensor   u8         1  0 (0x00)
      34   33  reading  f32        4  21.5 (bits 0x41ac0000)
      42   34  unit     str        2  "C"
      48   32  sensor   u8         1  1 (0x01)
      53   33  reading  f32        4  1013.25 (bits 0x447d5000)
      61   35  status   u16        2  258 (0x0102)
  endpoint: accepted
  required tags: all present
  structured view: 3 plain tags, 2 objects
    tag 1 device u32 42 (0x0000002a)
    tag 2 name str "pump-7"
    tag 3 uptime u32 3600 (0x00000e10)
    object Sensor, opened by tag 32 sensor u8 0 (0x00)
      tag 33 reading f32 21.5 (bits 0x41ac0000)
      tag 34 unit str "C"
    object Sensor, opened by tag 32 sensor u8 1 (0x01)
      tag 33 reading f32 1013.25 (bits 0x447d5000)
      tag 35 status u16 258 (0x0102)
EOF
    no_err
}

case_dictionary_errors() {
    printf '{\n  "tags": [\n    {"id": 1, "name": "device", "type": "u64"}\n  ]\n}\n' >"$work/type.json"
    run 2 decode --dict "$work/type.json" <<<'21 00'
    same_err <<EOF
vmsg decode: $work/type.json:3: tags[0].type: expected a type name (null, str, u32, u16, u8, bytes, f32), found "u64"
EOF
    [[ ! -s $work/out ]] || fail "output written with a broken dictionary"
    printf '{\n  "tags": [\n    {"id": 1, "name": "device", "type": "u32"},\n  ]\n}\n' >"$work/syntax.json"
    run 2 decode --dict "$work/syntax.json" <<<'21 00'
    same_err <<EOF
vmsg decode: $work/syntax.json:4:3: syntax error while parsing value - unexpected ']'; expected '[', '{', or a literal
EOF
    run 2 decode --dict "$work/none.json" <<<'21 00'
    err_has "vmsg decode: $work/none.json: cannot open: No such file or directory"
}

case_dictionary_check() {
    run 0 dict check "$dict"
    same_out <<EOF
$dict: ok: 2 messages, 9 tags, 1 meta tags
EOF
    no_err
    printf '{\n  "tags": [\n    {"id": 1, "name": "a", "type": "u64"},\n    {"id": 1, "name": "b", "type": "u8"}\n  ],\n  "mesages": []\n}\n' >"$work/bad.json"
    run 1 dict check "$work/bad.json"
    same_out <<EOF
$work/bad.json:3: tags[0].type: expected a type name (null, str, u32, u16, u8, bytes, f32), found "u64"
$work/bad.json:4: tags[1].id: duplicate tag id 1 (first at line 3)
$work/bad.json:6: mesages: unknown key 'mesages'; expected one of messages, tags, meta, name, version
EOF
    same_err <<EOF
vmsg dict check: $work/bad.json: 3 problems
EOF
    # A refused dictionary generates nothing.
    run 1 dict gen "$work/bad.json" -o "$work/bad.h"
    [[ ! -e $work/bad.h ]] || fail "a header was written for a refused dictionary"
    # Not JSON at all: a malformed file (2), like an unreadable one; the
    # syntax error is still printed where the problems go.
    printf '{ "tags": [ }' >"$work/syntax.json"
    run 2 dict check "$work/syntax.json"
    out_has "$work/syntax.json:1:13: syntax error"
    err_has "vmsg dict check: $work/syntax.json: not valid JSON"
    run 2 dict gen "$work/syntax.json" -o "$work/syntax.h"
    [[ ! -e $work/syntax.h ]] || fail "a header was written for a file that is not JSON"
    # Well-formed JSON that is no dictionary has problems (1).
    printf '[1, 2]\n' >"$work/list.json"
    run 1 dict check "$work/list.json"
    run 2 dict check "$work/none.json"
    err_has "vmsg dict: $work/none.json: cannot open: No such file or directory"
    run 2 dict gen "$dict"
    err_has 'vmsg dict: gen needs -o HEADER'
    run 2 dict check "$dict" -o "$work/x.h"
    err_has 'vmsg dict: -o and --namespace are options of gen'
    run 2 dict gen "$dict" -o "$work/x.h" --namespace 'bad name'
    err_has "vmsg dict: --namespace: expected a C++ namespace name"
    run 2 dict frob "$dict"
    err_has "vmsg dict: expected 'check FILE', 'gen FILE -o HEADER' or 'diff OLD NEW'"
    run 0 dict gen "$dict" -o "$work/demo.h" --namespace app::demo
    grep -q '^namespace app::demo {$' "$work/demo.h" || fail "the namespace is not app::demo"
    # The export for the dissector: to standard output without -o; a
    # refused dictionary exports nothing and is refused as check refuses it.
    run 0 dict gen --lua "$dict"
    out_has '  format = 1,'
    out_has '    { id = 17, name = "command", required = { 1, 48 }, optional = {}, closed = false'
    out_has '    { id = 32, name = "sensor", type = 4, object = "Sensor", members = {}, lists_members = false },'
    no_err
    run 1 dict gen --lua "$work/bad.json" -o "$work/bad.lua"
    out_has "$work/bad.json:4: tags[1].id: duplicate tag id 1 (first at line 3)"
    err_has "vmsg dict gen: $work/bad.json: 3 problems"
    [[ ! -e $work/bad.lua ]] || fail "a Lua file was written for a refused dictionary"
    run 2 dict gen --lua "$work/syntax.json" -o "$work/syntax.lua"
    [[ ! -e $work/syntax.lua ]] || fail "a Lua file was written for a file that is not JSON"
    run 2 dict check --lua "$dict"
    err_has 'vmsg dict: --lua is an option of gen'
    run 2 dict gen --lua "$dict" --namespace app
    err_has 'vmsg dict: --namespace is an option of gen for C++, not of gen --lua'
}

case_dictionary_diff() {
    printf '{"messages": [{"id": 16, "name": "telemetry", "required": ["device"], "optional": ["site"]}],\n "tags": [{"id": 1, "name": "device", "type": "u32"}, {"id": 2, "name": "site", "type": "str"}, {"id": 40, "name": "group", "type": "null"}]}\n' >"$work/v1.json"
    sed 's/"optional": \["site"\]/"optional": ["site", "group"]/' "$work/v1.json" >"$work/v2.json"
    sed 's/"type": "str"/"type": "u8"/' "$work/v2.json" >"$work/v3.json"
    run 0 dict diff "$work/v1.json" "$work/v2.json"
    same_out <<EOF
compatible optional-tag-added  message 16 "telemetry" may now carry tag 40 "group"
$work/v1.json -> $work/v2.json: 0 breaking, 1 compatible
EOF
    no_err
    run 1 dict diff --json "$work/v2.json" "$work/v3.json"
    out_has '"rule": "tag-type-changed"'
    out_has '"breaking": 1,'
    run 0 dict diff "$work/v1.json" "$work/v1.json"
    out_has 'no changes'
    run 2 dict diff "$work/v1.json"
    err_has "vmsg dict: expected 'diff OLD NEW'"
    # A closed message: the tags outside its list are reported, not refused.
    run 0 decode --dict "$work/v1.json" <<<'10 00 01 02 00 04 00 00 00 07 28 00 00 00'
    out_has 'tag 40 (group) is not a tag of this message'
}

case_dictionary_validation() {
    run 1 decode --dict "$dict" <<<'7f 00 05 04 00 01 07'
    same_out <<'EOF'
block 1 (stdin:1), 7 bytes
message 0x7f, flags 0x00, 1 tag, 5 payload bytes
  offset  tag  type  length  value
       2    5  u8         1  7 (0x07)
  endpoint: refused
    ErrUnknownMessage (detail 7f): message id 0x7f is not in the dictionary
  required tags: not checked (no definition for this message id)
  structured view: 1 plain tag, 0 objects
    tag 5 u8 7 (0x07)
EOF
    err_has 'vmsg decode: 1 of 1 blocks failed'
    run 1 decode --dict "$dict" <<<'11 00 30 04 00 01 03'
    out_has '    ErrMissingTag (detail 01): required tag 1 (device) is missing'
    # A parse that stops early fails the block even where the endpoint
    # accepts what was parsed.
    run 1 decode --dict "$dict" <<<'11 00 01 02 00 04 00 00 00 01 30 04 00 01 03 ff'
    out_has '  parse stopped at byte 15: short tag header (a tag header needs 4 bytes); 1 byte left unread'
    out_has '  endpoint: accepted'
}

# Every block the demo prints decodes, with the dictionary, to the values
# the demo printed for it.
case_demo_output() {
    [[ -n ${VMSG_DEMO:-} ]] || { echo "demo not built; skipped"; exit 77; }
    "$VMSG_DEMO" >"$work/demo.txt" || fail "the demo failed"
    grep -qF "67 bytes: $telemetry" "$work/demo.txt" || fail "the demo's telemetry block is no longer the one tested here"
    sed -n 's/^  receiver: [0-9]* bytes: //p' "$work/demo.txt" >"$work/received.hex"
    [[ $(wc -l <"$work/received.hex") == 3 ]] || fail "expected 3 received blocks in the demo output"
    run 1 decode --dict "$dict" "$work/received.hex"
    # The demo's lines "tag  33 reading  f32   21.5" against the table rows
    # "34   33  reading  f32   4  21.5 (bits 0x41ac0000)" of the first block.
    sed -n '/^  receiver: 67 bytes/,/required tags/s/^      tag //p' "$work/demo.txt" |
        awk '{print $1, $2, $3, $4}' >"$work/demo-tags"
    awk '/^block 1 /{b=1} /^block 2 /{b=0} b && /^ +[0-9]+ +[0-9]+ /{print $2, $3, $4, $6}' "$work/out" \
        >"$work/tool-tags"
    [[ $(wc -l <"$work/demo-tags") == 9 ]] || fail "expected 9 tag lines from the demo"
    diff -u "$work/demo-tags" "$work/tool-tags" || fail "the tool decodes the demo's block otherwise"
    out_has 'ErrMissingTag (detail 01): required tag 1 (device) is missing'
    out_has 'ErrUnknownMessage (detail 7f): message id 0x7f is not in the dictionary'
    err_has 'vmsg decode: 2 of 3 blocks failed'
}

case_verbose() {
    run 0 --verbose segment --frame 10 <<<'21 00 05 04 00 01 07 06 04 00 01 08'
    err_has 'DEBUG VMsg: Segmenting 2 tags for 10 bytes'
    err_has 'DEBUG VMsg: Create new segment'
    same_out <<'EOF'
21 80 05 04 00 01 07
21 00 06 04 00 01 08
EOF
    run 0 decode --verbose <<<'21 00'
    err_has 'DEBUG VMsg: VMsg() - '
    run 0 segment --frame 10 <<<'21 00 05 04 00 01 07 06 04 00 01 08'
    no_err
}

case_framed_capture() {
    # One framed block each way, byte for byte.
    "$VMSG" encode --framing lp --id 0x21 u8:5=7 >"$work/one.lp" || fail "encode --framing lp failed"
    [[ $(od -An -tx1 -v "$work/one.lp" | tr -s ' \n' ' ') == ' 00 07 21 00 05 04 00 01 07 ' ]] ||
        fail "length-prefixed block differs: $(od -An -tx1 "$work/one.lp")"
    "$VMSG" encode --framing cobs --id 0x21 u8:5=0 >"$work/one.cobs" || fail "encode --framing cobs failed"
    [[ $(od -An -tx1 -v "$work/one.cobs" | tr -s ' \n' ' ') == ' 02 21 03 05 04 02 01 01 00 ' ]] ||
        fail "COBS block differs: $(od -An -tx1 "$work/one.cobs")"
    # A capture of several blocks decodes to the same reports as the hex lines.
    local framing
    for framing in lp cobs; do
        : >"$work/capture"
        : >"$work/lines.hex"
        "$VMSG" encode --framing $framing --id 1 str:2=first >>"$work/capture"
        "$VMSG" encode --framing $framing --id 2 bytes:3=00000000 u16:4=0 >>"$work/capture"
        "$VMSG" encode --id 1 str:2=first >>"$work/lines.hex"
        "$VMSG" encode --id 2 bytes:3=00000000 u16:4=0 >>"$work/lines.hex"
        run 0 decode --json --framing $framing - <"$work/capture"
        sed 's/stdin frame \([0-9]\)/stdin:\1/' "$work/out" >"$work/framed.json"
        run 0 decode --json - <"$work/lines.hex"
        diff -u "$work/out" "$work/framed.json" || fail "$framing capture decodes differently from its hex lines"
    done
    # Garbage between COBS frames costs only the damaged frame; it is said
    # and fails the run.
    {
        "$VMSG" encode --framing cobs --id 0x21 u8:5=0
        printf 'garbage\0'
        "$VMSG" encode --framing cobs --id 0x22 str:1=hi
    } >"$work/damaged.cobs"
    run 1 decode --framing cobs "$work/damaged.cobs"
    out_has "block 1 ($work/damaged.cobs frame 1), 7 bytes"
    out_has "block 2 ($work/damaged.cobs frame 2), 9 bytes"
    same_err <<EOF
vmsg decode: $work/damaged.cobs: 8 bytes dropped: they frame no block
EOF
    # A capture cut short in its last frame.
    "$VMSG" encode --framing lp --id 1 str:2=first | head -c 12 >"$work/cut.lp"
    run 1 decode --framing lp "$work/cut.lp"
    err_has 'the last frame is cut short (10 block bytes)'
    run 2 decode --framing lp "$work/missing"
    err_has 'cannot open'
    run 2 decode --framing lp </dev/null
    err_has 'vmsg decode: stdin: no blocks found (expected lp-framed blocks)'
    run 2 decode --framing slip "$work/one.lp"
    err_has "vmsg decode: --framing: expected 'lp' (2-byte length prefix) or 'cobs', found 'slip'"
    run 2 decode --raw --framing lp "$work/one.lp"
    err_has '--raw and --framing exclude each other'
    run 2 encode --raw --framing lp --id 1
    err_has '--raw and --framing exclude each other'
}

# start_listen NAME ARGS...: runs `vmsg listen ARGS` in the background,
# output to $work/NAME.out and .err, and waits (bounded) for its "listening
# on" line; sets listen_pid and port (the port it bound).
listen_pids=()
trap 'for p in "${listen_pids[@]}"; do kill "$p" 2>/dev/null; done; rm -rf "$work"' EXIT
start_listen() {
    local name=$1
    shift
    "$VMSG" listen "$@" >"$work/$name.out" 2>"$work/$name.err" &
    listen_pid=$!
    listen_pids+=("$listen_pid")
    port=
    for _ in $(seq 100); do
        port=$(sed -n 's/^vmsg listen: listening on [a-z]*:\/\/[^ ]*:\([0-9][0-9]*\)\(\/.*\)\{0,1\}$/\1/p' \
            "$work/$name.err")
        [[ -n $port ]] && return 0
        kill -0 "$listen_pid" 2>/dev/null || break
        sleep 0.1
    done
    fail "vmsg listen $* did not get ready: $(cat "$work/$name.err")"
}
# wait_listen NAME STATUS: waits for the listener to end, checks its status.
wait_listen() {
    local status=0
    wait "$listen_pid" || status=$?
    [[ $status == "$2" ]] || fail "vmsg listen ($1): exit status $status, expected $2: $(cat "$work/$1.err")"
}

# The blocks of the live cases: the demo's telemetry message, and one the
# dictionary does not define.
live_blocks() {
    echo "$telemetry"
    "$VMSG" encode --id 0x7f u8:1=1
}
check_live_output() {
    local name=$1 from=$2
    grep -q "^block 1 ($from 127\.0\.0\.1:[0-9]*), 67 bytes$" "$work/$name.out" ||
        fail "$name: block 1 not as expected: $(cat "$work/$name.out")"
    grep -qF 'message 0x10 telemetry, flags 0x00, 9 tags' "$work/$name.out" || fail "$name: no telemetry message"
    grep -qF 'structured view: 3 plain tags, 2 objects' "$work/$name.out" || fail "$name: no structured view"
    grep -qF 'ErrUnknownMessage (detail 7f)' "$work/$name.out" || fail "$name: block 2 not refused"
    grep -qx 'vmsg listen: 1 of 2 blocks failed' "$work/$name.err" || fail "$name: $(cat "$work/$name.err")"
}

case_listen_udp() {
    start_listen udp --dict "$dict" --count 2 --timeout 20 udp://127.0.0.1:0
    run 0 send "udp://127.0.0.1:$port" < <(live_blocks)
    no_err
    wait_listen udp 1
    check_live_output udp udp
    # --json: one object a line, as decode's block reports.
    start_listen json --json --count 1 --timeout 20 udp://127.0.0.1:0
    run 0 send "udp://127.0.0.1:$port" <<<"$telemetry"
    wait_listen json 0
    [[ $(wc -l <"$work/json.out") == 1 ]] || fail "--json wrote more than one line: $(cat "$work/json.out")"
    grep -q '^{"block":1,"source":"udp 127\.0\.0\.1:[0-9]*","size":67,' "$work/json.out" ||
        fail "--json line not as expected: $(cat "$work/json.out")"
    # A timeout without a count ends well; one that comes before the count does not.
    run 0 listen --timeout 0.2 udp://127.0.0.1:0
    run 1 listen --count 1 --timeout 0.2 udp://127.0.0.1:0
    err_has 'vmsg listen: timed out after 0.2 s with 0 of 1 blocks'
}

case_listen_tcp() {
    local framing
    for framing in lp cobs; do
        start_listen tcp_$framing --framing $framing --dict "$dict" --count 2 --timeout 20 tcp://127.0.0.1:0
        run 0 send --framing $framing "tcp://127.0.0.1:$port" < <(live_blocks)
        no_err
        wait_listen tcp_$framing 1
        check_live_output tcp_$framing tcp
    done
    # Two connections at once, each block whole; lp is the default.
    start_listen two --count 4 --timeout 20 tcp://127.0.0.1:0
    {
        "$VMSG" encode --id 1 str:1=a
        sleep 0.3
        "$VMSG" encode --id 1 str:1=b
    } | "$VMSG" send "tcp://127.0.0.1:$port" &
    local first=$!
    run 0 send "tcp://127.0.0.1:$port" < <(printf '%s\n' "$telemetry" "$telemetry")
    wait "$first" || fail "the first sender failed"
    wait_listen two 0
    [[ $(grep -c '^message 0x10, flags 0x00, 9 tags' "$work/two.out") == 2 ]] || fail "$(cat "$work/two.out")"
    [[ $(grep -c '^message 0x01, flags 0x00, 1 tag' "$work/two.out") == 2 ]] || fail "$(cat "$work/two.out")"
    # A connection that ends inside a frame loses bytes, which fails the run.
    start_listen cut --timeout 20 --count 2 tcp://127.0.0.1:0
    { echo "$telemetry" | "$VMSG" send - | head -c 30; } >"$work/cut.lp"
    exec 3<>"/dev/tcp/127.0.0.1/$port"
    cat "$work/cut.lp" >&3
    exec 3>&-
    run 0 send "tcp://127.0.0.1:$port" <<<"$telemetry"
    wait_listen cut 1
    grep -q 'the stream ended inside a frame (28 block bytes lost)' "$work/cut.err" || fail "$(cat "$work/cut.err")"
    grep -q '^block 1 (tcp 127\.0\.0\.1:[0-9]*), 67 bytes$' "$work/cut.out" || fail "$(cat "$work/cut.out")"
}

case_listen_files() {
    # send to a file and to standard output, listen on a file and on
    # standard input: framed streams, lp by default.
    run 0 send "file:$work/capture.lp" < <(live_blocks)
    live_blocks | "$VMSG" send - >"$work/stdout.lp" || fail "send - failed"
    cmp "$work/capture.lp" "$work/stdout.lp" || fail "file: and - wrote different bytes"
    run 1 listen --dict "$dict" "file:$work/capture.lp"
    out_has "block 1 ($work/capture.lp), 67 bytes"
    err_has 'vmsg listen: 1 of 2 blocks failed'
    "$VMSG" listen --count 1 - <"$work/capture.lp" >"$work/out" 2>"$work/err" || fail "listen - failed"
    out_has 'block 1 (stdin), 67 bytes'
    [[ $(grep -c '^block' "$work/out") == 1 ]] || fail "--count 1 printed more"
    # COBS with garbage between frames: the undamaged blocks all come through.
    {
        echo "$telemetry" | "$VMSG" send --framing cobs -
        printf '\x05\x01garbage\x00'
        echo "$telemetry" | "$VMSG" send --framing cobs -
    } >"$work/damaged.cobs"
    run 1 listen --framing cobs "file:$work/damaged.cobs"
    [[ $(grep -c '^block [12] (.*damaged.cobs), 67 bytes$' "$work/out") == 2 ]] || fail "$(cat "$work/out")"
    err_has 'bytes dropped: they frame no block'
    # The end before the count.
    run 1 listen --count 3 "file:$work/capture.lp"
    err_has "vmsg listen: file:$work/capture.lp ended with 2 of 3 blocks"
}

case_send_listen_errors() {
    local url
    for url in 'udp://127.0.0.1' 'udp://:9000' 'tcp://127.0.0.1:99999' 'tcp://127.0.0.1:9/x' 'http://x:1' \
        'mqtt://127.0.0.1:1883' 'file:' '127.0.0.1:9000'; do
        run 2 send "$url" <<<"$telemetry"
        err_has "vmsg send: '$url': "
        err_has '(expected udp://HOST:PORT, tcp://HOST:PORT, mqtt://HOST:PORT/TOPIC, file:PATH or -)'
    done
    run 2 send udp://127.0.0.1:0 <<<"$telemetry"
    err_has 'the port must be from 1 to 65535'
    run 2 listen
    err_has 'vmsg listen: expected one URL, found 0 arguments'
    run 2 send --framing cobs udp://127.0.0.1:9 <<<"$telemetry"
    err_has '--framing is for streams (tcp, file, -); udp://127.0.0.1:9 carries one block per datagram'
    run 2 listen --timeout 0 udp://127.0.0.1:0
    err_has "--timeout: expected a number of seconds above 0, found '0'"
    run 2 listen --count 0 udp://127.0.0.1:0
    err_has '--count: expected a number from 1'
    run 2 listen udp://no-such-host.invalid:9
    err_has 'vmsg listen: udp://no-such-host.invalid:9: cannot resolve'
    # A refused connection: a port bound but not listening refuses.
    start_listen holder --timeout 20 udp://127.0.0.1:0
    run 2 send "tcp://127.0.0.1:$port" <<<"$telemetry"
    same_err <<EOF
vmsg send: tcp://127.0.0.1:$port: cannot connect: Connection refused
EOF
    # A port in use, for UDP and TCP.
    run 2 listen "udp://127.0.0.1:$port"
    err_has "vmsg listen: udp://127.0.0.1:$port: cannot bind: Address already in use"
    kill "$listen_pid"
    start_listen holder_tcp --timeout 20 tcp://127.0.0.1:0
    run 2 listen "tcp://127.0.0.1:$port"
    err_has "vmsg listen: tcp://127.0.0.1:$port: cannot bind: Address already in use"
    # Bad lines: those before are sent, the bad one is named.
    run 2 send "file:$work/partial.lp" < <(printf '%s\n' "$telemetry" '21 0')
    err_has 'vmsg send: stdin:2:4: '
    [[ $(stat -c %s "$work/partial.lp") == 69 ]] || fail "the good line was not sent"
    run 1 send "file:$work/short.lp" <<<'21'
    err_has 'vmsg send: stdin:1: a framed block has 2 to 65535 bytes, this one has 1'
    run 2 send - </dev/null
    err_has 'vmsg send: stdin: no blocks found'
    run 2 listen "file:$work/missing"
    err_has "vmsg listen: $work/missing: cannot open: No such file or directory"
}

case_listen_mqtt() {
    [[ -x ${VMSG_MOSQUITTO:-} ]] || fail "the mosquitto broker is not installed (Debian: mosquitto; scripts/setup installs it)"
    local broker_port broker_pid=
    # A free port for the broker: the system picks one, the broker takes it
    # right after (tried again should another program take it between).
    for _ in 1 2 3; do
        broker_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
        printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\n' "$broker_port" >"$work/mosquitto.conf"
        "$VMSG_MOSQUITTO" -c "$work/mosquitto.conf" >"$work/broker.log" 2>&1 &
        broker_pid=$!
        listen_pids+=("$broker_pid")
        for _ in $(seq 50); do
            grep -q 'running' "$work/broker.log" && break
            kill -0 "$broker_pid" 2>/dev/null || break
            sleep 0.1
        done
        grep -q 'running' "$work/broker.log" && kill -0 "$broker_pid" 2>/dev/null && break
        broker_pid=
    done
    [[ -n $broker_pid ]] || fail "the broker did not start: $(cat "$work/broker.log")"
    start_listen mqtt --dict "$dict" --count 2 --timeout 20 "mqtt://127.0.0.1:$broker_port/vmsg/test"
    grep -qx "vmsg listen: listening on mqtt://127.0.0.1:$broker_port/vmsg/test" "$work/mqtt.err" ||
        fail "$(cat "$work/mqtt.err")"
    run 0 send "mqtt://127.0.0.1:$broker_port/vmsg/test" < <(live_blocks)
    no_err
    wait_listen mqtt 1
    grep -qx 'block 1 (mqtt vmsg/test), 67 bytes' "$work/mqtt.out" || fail "$(cat "$work/mqtt.out")"
    grep -qF 'structured view: 3 plain tags, 2 objects' "$work/mqtt.out" || fail "$(cat "$work/mqtt.out")"
    grep -qF 'ErrUnknownMessage (detail 7f)' "$work/mqtt.out" || fail "$(cat "$work/mqtt.out")"
    # A wildcard subscription names each message's topic.
    start_listen wild --count 1 --timeout 20 "mqtt://127.0.0.1:$broker_port/vmsg/+"
    run 0 send "mqtt://127.0.0.1:$broker_port/vmsg/pump-7" <<<"$telemetry"
    wait_listen wild 0
    grep -qx 'block 1 (mqtt vmsg/pump-7), 67 bytes' "$work/wild.out" || fail "$(cat "$work/wild.out")"
    run 2 send "mqtt://127.0.0.1:$broker_port/vmsg/#" <<<"$telemetry"
    err_has "is not a topic to publish to"
    kill "$broker_pid"
    wait "$broker_pid" 2>/dev/null
    run 2 send "mqtt://127.0.0.1:$broker_port/vmsg/test" <<<"$telemetry"
    err_has "vmsg send: mqtt://127.0.0.1:$broker_port/vmsg/test: cannot connect: Connection refused"
}

[[ $# == 1 ]] && declare -F "case_$1" >/dev/null || fail "usage: e2e.sh CASE"
[[ -x ${VMSG:-} ]] || fail "VMSG does not name the vmsg program"
"case_$1"
echo "e2e $1: passed"
