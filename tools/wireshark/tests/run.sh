#!/usr/bin/env bash
# Runs the Wireshark dissector (vmsg.lua) in tshark over captures of message
# blocks and checks what it shows:
#
#   - the blocks of blocks.hex against the committed facts, without and with
#     the example dictionary (always, so a change of the dissector shows);
#   - the UDP port preference, Decode As, and dictionaries that cannot be
#     used (always);
#   - with --vmsg, against `vmsg decode --json` for the same blocks: those of
#     blocks.hex, blocks built by `vmsg encode` and `vmsg segment`, the
#     demo's blocks (with --demo), every prefix of each, and random blocks.
#
# The facts compared are message id, name and flags, each tag's id, name,
# type, declared length and value, where and why the parse stopped, and
# with a dictionary an unknown message id and missing required tags.
#
# Usage: run.sh --lua FILE --dict FILE --work DIR [--vmsg FILE] [--demo FILE]
#               [--cmake FILE]
# Exit status: 0 passed, 1 failed, 77 skipped (no tshark or text2pcap, or a
# tshark without Lua).
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
lua="" dict="" work="" vmsg="" demo="" cmake=cmake
while [[ $# -gt 0 ]]; do
    case "$1" in
        --lua) lua=$2 ;;
        --dict) dict=$2 ;;
        --work) work=$2 ;;
        --vmsg) vmsg=$2 ;;
        --demo) demo=$2 ;;
        --cmake) cmake=$2 ;;
        *) echo "run.sh: unknown argument '$1'" >&2; exit 2 ;;
    esac
    shift 2
done
if [[ -z "$lua" || -z "$dict" || -z "$work" ]]; then
    echo "usage: run.sh --lua FILE --dict FILE --work DIR [--vmsg FILE] [--demo FILE] [--cmake FILE]" >&2
    exit 2
fi

tshark=${TSHARK:-$(command -v tshark || true)}
text2pcap=${TEXT2PCAP:-$(command -v text2pcap || true)}
if [[ -z "$tshark" || -z "$text2pcap" ]]; then
    echo "SKIP: tshark and text2pcap are needed (Debian package tshark); not found in PATH"
    exit 77
fi

rm -rf "$work"
mkdir -p "$work/home"
# A home of its own: no personal preferences, profiles or Lua plugins
# (a copy of vmsg.lua there would register the protocol twice).
export HOME="$work/home"
unset XDG_CONFIG_HOME

passed=0
failed=0

pass() {
    passed=$((passed + 1))
    echo "ok   $1"
}

fail() {
    failed=$((failed + 1))
    echo "FAIL $1"
}

# compare NAME EXPECTED ACTUAL: the two facts files are equal.
compare() {
    if diff -u "$2" "$3" > "$work/diff.txt"; then
        pass "$1"
    else
        fail "$1: $(basename "$3") differs from $(basename "$2"):"
        head -n 40 "$work/diff.txt"
    fi
}

# to_pcap HEX PCAP [PORT]: one UDP datagram 127.0.0.1:40000 -> PORT per
# block line of HEX.
to_pcap() {
    awk '{ sub(/#.*/, "") } NF { printf "000000"; for (i = 1; i <= NF; i++) printf " %s", $i; print "" }' \
        "$1" > "$2.txt"
    "$text2pcap" -q -4 127.0.0.1,127.0.0.1 -u "40000,${3:-47800}" "$2.txt" "$2" ||
        { echo "text2pcap failed on $2.txt"; return 1; }
}

# dissect PCAP FACTS [TSHARK OPTIONS]: the dissector's facts of every
# packet; tshark's standard error goes to FACTS.err, without the warning
# about running as root.
dissect() {
    local pcap=$1 facts=$2
    shift 2
    "$tshark" -n -X "lua_script:$lua" "$@" -r "$pcap" -T pdml 2> "$facts.err.all" > "$facts.pdml"
    grep -v 'Running as user "root"' "$facts.err.all" > "$facts.err" || true
    awk -f "$here/pdml_facts.awk" "$facts.pdml" > "$facts"
}

# quiet NAME FACTS: tshark printed nothing on standard error (a Lua error
# while loading the script lands there).
quiet() {
    if [[ -s "$2.err" ]]; then
        fail "$1: tshark printed errors:"
        head -n 20 "$2.err"
    else
        pass "$1"
    fi
}

# tool_facts HEX FACTS [DECODE OPTIONS]: the facts of `vmsg decode`.
tool_facts() {
    local hex=$1 facts=$2
    shift 2
    "$vmsg" decode --json "$@" "$hex" > "$facts.json" 2> "$facts.err"
    local status=$?
    if [[ $status -gt 1 ]]; then
        echo "vmsg decode failed ($status) on $hex:"
        cat "$facts.err"
        : > "$facts"
        return
    fi
    "$cmake" -DREPORT="$facts.json" -DOUT="$facts" -P "$here/tool_facts.cmake"
}

# tool ARGUMENTS: runs vmsg; its failure fails the test.
tool() {
    "$vmsg" "$@" || fail "vmsg $* exited with $?" >&2
}

without_notes() {
    grep -v '^  note ' "$1" > "$1.checked" || true
}

to_pcap "$here/blocks.hex" "$work/blocks.pcap" || exit 1
# Lua may be missing from tshark, or disabled for root by the site's
# init.lua; the first is a machine that cannot run the test.
probe=$("$tshark" -n -X "lua_script:$lua" -r "$work/blocks.pcap" -c 1 -T fields -e vmsg.msg_id 2> "$work/probe.err")
if [[ "$probe" != "0x10" ]]; then
    if ! "$tshark" --version 2>/dev/null | grep -q 'Lua'; then
        echo "SKIP: this tshark has no Lua support"
        exit 77
    fi
    echo "FAIL tshark did not run the dissector (message id '$probe'); it said:"
    cat "$work/probe.err"
    exit 1
fi

echo "== the blocks of blocks.hex against the committed facts"
dissect "$work/blocks.pcap" "$work/blocks.facts"
compare "fixed blocks, no dictionary" "$here/blocks.facts" "$work/blocks.facts"
quiet "fixed blocks, no dictionary: no Lua errors" "$work/blocks.facts"
dissect "$work/blocks.pcap" "$work/blocks-dict.facts" -o "vmsg.dictionary:$dict"
compare "fixed blocks, example dictionary" "$here/blocks-dict.facts" "$work/blocks-dict.facts"
quiet "fixed blocks, example dictionary: no Lua errors" "$work/blocks-dict.facts"

echo "== port preference and Decode As"
to_pcap "$here/blocks.hex" "$work/port9999.pcap" 9999 || exit 1
awk '/^block/ { print $1, $2, "not dissected" }' "$here/blocks.facts" > "$work/not-dissected.facts"
dissect "$work/port9999.pcap" "$work/port9999-default.facts"
compare "another port is left alone" "$work/not-dissected.facts" "$work/port9999-default.facts"
dissect "$work/port9999.pcap" "$work/port9999-pref.facts" -o vmsg.port:9999
compare "the port preference moves the dissector" "$here/blocks.facts" "$work/port9999-pref.facts"
dissect "$work/port9999.pcap" "$work/port9999-decode-as.facts" -d udp.port==9999,vmsg
compare "Decode As on another port" "$here/blocks.facts" "$work/port9999-decode-as.facts"
dissect "$work/blocks.pcap" "$work/port0.facts" -o vmsg.port:0
compare "port preference 0 leaves the default port alone" "$work/not-dissected.facts" "$work/port0.facts"
dissect "$work/port9999.pcap" "$work/port0-decode-as.facts" -o vmsg.port:0 -d udp.port==9999,vmsg
compare "Decode As with port preference 0" "$here/blocks.facts" "$work/port0-decode-as.facts"

echo "== dictionaries"
dissect "$work/blocks.pcap" "$work/no-file.facts" -o "vmsg.dictionary:$work/absent.json"
compare "a missing dictionary file: numbers only" "$here/blocks.facts" "$work/no-file.facts"
if grep -q "cannot use the dictionary $work/absent.json" "$work/no-file.facts.err"; then
    pass "a missing dictionary file is reported"
else
    fail "a missing dictionary file is reported: tshark said: $(cat "$work/no-file.facts.err")"
fi
# Each bad dictionary and a part of the report it must give.
bad_dictionaries=(
    '{ "messages": [ { "id": 16, } ] }|line 1: expected a member name'
    $'{\n  "tags": [\n    { "id": 1, "name": "device" "type": "u32" }\n  ]\n}|line 3: expected \',\' or \'}\''
    '{ "tags": [ { "id": 300, "name": "big" } ] }|tags[0]: expected an object with an integer "id" from 0 to 255'
    '{ "messages": [ { "id": 16, "required": ["nobody"] } ] }|messages[0].required[0]: expected a tag id or the name of a tag'
    '{ "tags": [ { "id": 1, "name": "x\q" } ] }|line 1: unknown escape \q'
    '{ "messages": [ { "id": 16, "required": "device" } ] }|messages[0].required: expected an array'
)
for entry in "${bad_dictionaries[@]}"; do
    printf '%s' "${entry%%|*}" > "$work/bad.json"
    dissect "$work/blocks.pcap" "$work/bad.facts" -o "vmsg.dictionary:$work/bad.json"
    if grep -qF -- "${entry#*|}" "$work/bad.facts.err" && cmp -s "$here/blocks.facts" "$work/bad.facts"; then
        pass "bad dictionary reported: ${entry#*|}"
    else
        fail "bad dictionary reported: ${entry#*|}: tshark said: $(cat "$work/bad.facts.err")"
    fi
done
# Names with escapes, and a required tag given by name.
"$tshark" -n -X "lua_script:$lua" -o "vmsg.dictionary:$here/escapes.json" -r "$work/blocks.pcap" \
    -Y 'frame.number <= 2' -T fields -E 'separator=|' -e vmsg.msg_name -e vmsg.tag.name -e _ws.expert.message \
    2> /dev/null > "$work/escapes.txt"
if cmp -s "$here/escapes.txt" "$work/escapes.txt"; then
    pass "dictionary names with JSON escapes"
else
    fail "dictionary names with JSON escapes:"
    diff -u "$here/escapes.txt" "$work/escapes.txt"
fi

if [[ -z "$vmsg" ]]; then
    echo "== no vmsg tool given (built with VMSG_BUILD_TOOLS=ON): comparison with it skipped"
else
    echo "== against vmsg decode"
    : > "$work/demo.hex"
    if [[ -n "$demo" ]]; then
        "$demo" | sed -n 's/^ *\(receiver: \)\{0,1\}[0-9][0-9]* bytes: \([0-9a-f ][0-9a-f ]*\)$/\2/p' > "$work/demo.hex"
        if grep -q '^10 00 01 02 00 04 00 00 00 2a' "$work/demo.hex"; then
            pass "the demo printed its telemetry block ($(grep -c . "$work/demo.hex") blocks)"
        else
            fail "the demo printed its telemetry block"
        fi
    fi
    {
        grep -v '^ *#' "$here/blocks.hex" | grep .
        tool encode --id 0x10 u32:1=42 str:2=pump-7 u32:3=3600 u8:32=0 f32:33=21.5 str:34=C
        tool encode --id 0x11 --flags 0x80 null:7 u8:48=3 bytes:49=00ff10 null:0
        tool encode --id 0x21 f32:1=0.1 f32:2=-1e-45 f32:3=inf f32:4=-nan f32:5=16777216 f32:6=-0
        tool encode --id 0x10 $'str:2=quote " back \\ tab\tend' str:34=°C str:2=
        tool encode --id 0xff --flags 0xff u16:35=0 u16:35=65535 u32:1=0x12345678 u8:0=0 u8:255=128
        tool encode --id 0x11 "bytes:49=$(printf '%02x' $(seq 0 1017 | awk '{ print $1 % 256 }'))"
        tool encode --id 0x10 "str:2=$(printf '%01017d' 7)"
        tool encode --id 0x10 u32:1=1 str:2=segmented u32:3=2 bytes:49=0102030405 > "$work/segmented.hex"
        tool segment --frame 20 "$work/segmented.hex"
        cat "$work/demo.hex"
    } > "$work/whole.hex"
    # Every prefix of the shorter blocks: each cut is a different stop.
    awk 'NF <= 128 { for (n = 1; n < NF; n++) { s = $1; for (i = 2; i <= n; i++) s = s " " $i; print s } }' \
        "$work/whole.hex" > "$work/prefixes.hex"
    awk -v count=300 -v seed=4711 -f "$here/random_blocks.awk" > "$work/random.hex"

    for set in whole prefixes random; do
        to_pcap "$work/$set.hex" "$work/$set.pcap" || exit 1
        dissect "$work/$set.pcap" "$work/$set.facts"
        without_notes "$work/$set.facts"
        tool_facts "$work/$set.hex" "$work/$set-tool.facts"
        compare "$set blocks ($(grep -c . "$work/$set.hex")) against vmsg decode" \
            "$work/$set-tool.facts" "$work/$set.facts.checked"
    done
    dissect "$work/whole.pcap" "$work/whole-dict.facts" -o "vmsg.dictionary:$dict"
    without_notes "$work/whole-dict.facts"
    tool_facts "$work/whole.hex" "$work/whole-dict-tool.facts" --dict "$dict"
    compare "whole blocks with the example dictionary against vmsg decode --dict" \
        "$work/whole-dict-tool.facts" "$work/whole-dict.facts.checked"
fi

echo "wireshark dissector: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
