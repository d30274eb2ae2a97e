#!/usr/bin/env bash
# Runs the Wireshark dissector (vmsg.lua) in tshark over captures of message
# blocks and checks what it shows:
#
#   - the blocks of blocks.hex against the committed facts without a
#     dictionary, the UDP port preference and Decode As (always);
#   - with --vmsg, which exports every dictionary for the dissector (`vmsg
#     dict gen --lua`): the blocks of blocks.hex with the example
#     dictionary against the committed facts, and the segments of
#     segments.hex (joined, refused, linked) in two passes and in one, so a
#     change of the dissector shows; a missing dictionary file, the JSON
#     file named instead of its export, and the hand-edited exports of
#     exports/, refused in every packet; the dictionaries of the shared
#     corpus and of dictionaries/: accepted ones exported and shown with
#     the names and findings of `vmsg decode --dict`, refused ones refused
#     by the export with the problems and exit status of `vmsg dict check`;
#     and against `vmsg decode --json` for the same blocks: those of
#     blocks.hex, blocks built by `vmsg encode` and `vmsg segment`, the
#     demo's blocks (with --demo), every prefix of each, and random blocks;
#     and two interleaved flows of `vmsg segment` output, whose joined
#     messages must be `vmsg join`'s.
#
# The facts compared are message id, name and flags, each tag's id, name,
# type, declared length and value, the objects, where and why the parse
# stopped, with a dictionary an unknown message id, missing required tags
# and tags a closed message does not list, and what became of segments.
#
# Usage: run.sh --lua FILE --dict JSON --work DIR [--vmsg FILE] [--demo FILE]
#               [--cmake FILE]
# Exit status: 0 passed, 1 failed, 77 skipped (no tshark, text2pcap or
# mergecap, or a tshark without Lua).
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
mergecap=${MERGECAP:-$(command -v mergecap || true)}
if [[ -z "$tshark" || -z "$text2pcap" || -z "$mergecap" ]]; then
    echo "SKIP: tshark, text2pcap and mergecap are needed (Debian package tshark); not found in PATH"
    exit 77
fi

rm -rf "$work"
mkdir -p "$work"
# A home of its own (no personal preferences, profiles or Lua plugins), and
# no Lua plugins from Wireshark's global folder, where vmsg-tools installs
# its dissector: only this tree's vmsg.lua may register the protocol.
# shellcheck source=tools/wireshark/tests/isolated_tshark.sh
source "$here/isolated_tshark.sh"
isolated_tshark "$tshark" "$work/tshark" || exit 1
if "${TSHARK_ISOLATED[@]}" -G protocols 2>/dev/null | grep -q $'\tvmsg$'; then
    echo "FAIL tshark registers a vmsg protocol without $lua: a dissector installed elsewhere would be tested"
    exit 1
fi

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
    "${TSHARK_ISOLATED[@]}" -n -X "lua_script:$lua" "$@" -r "$pcap" -T pdml 2> "$facts.err.all" > "$facts.pdml"
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

# tool_facts HEX FACTS [DECODE OPTIONS]: the facts of `vmsg decode`. The
# blocks go through in parts of 50: tool_facts.cmake reads a report with
# CMake's string(JSON), whose every look-up parses the whole report again.
tool_facts() {
    local hex=$1 facts=$2
    shift 2
    local parts=$facts.parts first=0 part status
    rm -rf "$parts"
    mkdir -p "$parts"
    : > "$facts"
    grep -v '^ *#' "$hex" | grep . | split -l 50 -d -a 4 - "$parts/"
    for part in "$parts"/[0-9][0-9][0-9][0-9]; do
        [[ -e "$part" ]] || continue
        "$vmsg" decode --json "$@" "$part" > "$part.json" 2> "$part.err"
        status=$?
        if [[ $status -gt 1 ]]; then
            echo "vmsg decode failed ($status) on $hex:"
            cat "$part.err"
            : > "$facts"
            return
        fi
        "$cmake" -DREPORT="$part.json" -DOUT="$part.facts" -DFIRST="$first" -P "$here/tool_facts.cmake"
        cat "$part.facts" >> "$facts"
        first=$((first + $(grep -c . "$part")))
    done
}

# tool ARGUMENTS: runs vmsg; its failure fails the test.
tool() {
    "$vmsg" "$@" || fail "vmsg $* exited with $?" >&2
}

# without_notes FACTS: FACTS.checked, the facts `vmsg decode` gives of
# each block too: without notes, what the dissector says of segments and
# the joined messages.
without_notes() {
    awk '/^joined / { joined = 1; next } /^block / { joined = 0 } joined { next }
         /^ *note / { next }
         /^  (segment|reassembled-in|segment-mismatch|not-reassembled|incomplete)( |$)/ { next }
         { print }' "$1" > "$1.checked"
}

# joined_only FACTS: FACTS.joined, the joined messages alone, numbered
# from 1 as `vmsg decode` numbers the blocks `vmsg join` writes; without
# notes, segment lists and the message id check (made on each segment).
joined_only() {
    awk '/^joined / { joined = 1; sub(/^joined [0-9]+:/, "block " ++n ":"); print; next }
         /^block / { joined = 0 } !joined { next }
         /^ *note / || /^  (segments|unknown-message)( |$)/ { next }
         { print }' "$1" > "$1.joined"
}

# links FACTS: the segment links of each block ("block 3: segment 2
# reassembled-in 4") and the segments of each joined message ("joined 4:
# segments 1 3 4").
links() {
    awk 'function flush() { if (line != "") print line; line = "" }
         /^block / { flush(); block = $2; sub(/:$/, "", block); next }
         /^joined / { flush(); joined = $2; sub(/:$/, "", joined) }
         /^  segment / { line = "block " block " segment " $2 }
         /^  reassembled-in / { line = line " reassembled-in " $2 }
         /^  segments / { sub(/^  /, ""); print "joined " joined " " $0 }
         END { flush() }' "$1"
}

to_pcap "$here/blocks.hex" "$work/blocks.pcap" || exit 1
# Lua may be missing from tshark, or disabled for root by the site's
# init.lua; the first is a machine that cannot run the test.
probe=$("${TSHARK_ISOLATED[@]}" -n -X "lua_script:$lua" -r "$work/blocks.pcap" -c 1 -T fields -e vmsg.msg_id 2> "$work/probe.err")
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

if [[ -z "$vmsg" ]]; then
    echo "== no vmsg tool given (built with VMSG_BUILD_TOOLS=ON): it exports the dictionaries; the rest skipped"
    echo "wireshark dissector: $passed passed, $failed failed"
    [[ $failed -eq 0 ]]
    exit
fi

# export JSON LUA: the dissector's file for the dictionary JSON.
export_dictionary() {
    "$vmsg" dict gen --lua "$1" -o "$2" > /dev/null 2>&1
}

echo "== the blocks of blocks.hex with the example dictionary"
dict_lua=$work/example.lua
if ! export_dictionary "$dict" "$dict_lua"; then
    echo "FAIL vmsg dict gen --lua $dict failed:"
    "$vmsg" dict gen --lua "$dict" -o "$dict_lua"
    exit 1
fi
dissect "$work/blocks.pcap" "$work/blocks-dict.facts" -o "vmsg.dictionary:$dict_lua"
compare "fixed blocks, example dictionary" "$here/blocks-dict.facts" "$work/blocks-dict.facts"
quiet "fixed blocks, example dictionary: no Lua errors" "$work/blocks-dict.facts"

echo "== dictionaries"
dissect "$work/blocks.pcap" "$work/no-file.facts" -o "vmsg.dictionary:$work/absent.lua"
compare "a missing dictionary file: numbers only" "$here/blocks.facts" "$work/no-file.facts"
if grep -q "cannot use the dictionary: Dictionary $work/absent.lua" "$work/no-file.facts.err" &&
    [[ $(grep -c 'name="vmsg.dictionary_unreadable"' "$work/no-file.facts.pdml") == \
       $(grep -c '<packet>' "$work/no-file.facts.pdml") ]]; then
    pass "a missing dictionary file is reported, and in every packet"
else
    fail "a missing dictionary file is reported, and in every packet: tshark said: $(cat "$work/no-file.facts.err")"
fi

# The texts of the dictionary's refusal in the first packet of FACTS.pdml,
# without the leading "Dictionary FILE refused: ".
refusal_texts() {
    awk '/<packet>/ && ++packets > 1 { exit } /name="vmsg.dictionary_refused"/' "$1.pdml" |
        sed 's/.*showname="\([^"]*\)".*/\1/' |
        sed "s/&#x27;/'/g; s/&quot;/\"/g; s/&lt;/</g; s/&gt;/>/g; s/&amp;/\\&/g" |
        awk -v file="$2" 'index($0, "Dictionary " file " refused: ") == 1 { print substr($0, length(file) + 22) }'
}

# The JSON path of the first problem `vmsg dict check` prints ("" for the
# whole file, - for a syntax error).
first_path() {
    local first
    first=$(head -n 1)
    if [[ $first =~ :[0-9]+:[0-9]+:\ syntax\ error ]]; then
        echo -
    elif [[ $first =~ :[0-9]+:\ ([^ ]+):\  ]]; then
        echo "${BASH_REMATCH[1]}"
    else
        echo '""'
    fi
}

to_pcap "$here/corpus.hex" "$work/corpus.pcap" || exit 1
dissect "$work/corpus.pcap" "$work/corpus.facts"
grep -v '^ *#' "$here/corpus.hex" | grep . > "$work/corpus-blocks.hex"

# unused NAME FILE EXPECTED: the dissector refuses the dictionary file FILE
# in every packet, its reason starting with EXPECTED, and shows the
# packets without names, with no Lua error.
unused() {
    local name=$1 file=$2 expected=$3 facts=$work/unused-${1//\//-}.facts
    dissect "$work/corpus.pcap" "$facts" -o "vmsg.dictionary:$file"
    local reason packets refusals
    reason=$(refusal_texts "$facts" "$file" | head -n 1)
    packets=$(grep -c '<packet>' "$facts.pdml")
    refusals=$(grep 'name="vmsg.dictionary_refused"' "$facts.pdml" | grep -c ' refused: ')
    if [[ "$reason" != "$expected"* ]]; then
        fail "$name refused: the dissector says '$reason', expected '$expected...'"
    elif [[ $refusals != "$packets" ]]; then
        fail "$name refused: $refusals of $packets packets say so"
    elif ! cmp -s "$work/corpus.facts" "$facts"; then
        fail "$name refused: the packets are not shown without names"
    elif grep -q 'LUA ERROR' "$facts"; then
        fail "$name refused: Lua errors in the packets"
    else
        pass "$name refused: $reason"
    fi
}

unused "the JSON file instead of its export" "$dict" "this is a JSON dictionary, not its export"
# Exports edited by hand: each file with the start of its refusal.
grep -v '^#' "$here/exports/expected.txt" | while IFS=' ' read -r name expected; do
    [[ -n "$name" ]] && unused "export $name" "$here/exports/$name" "$expected"
done > "$work/exports.out" 2>&1
cat "$work/exports.out"
passed=$((passed + $(grep -c '^ok ' "$work/exports.out")))
failed=$((failed + $(grep -c '^FAIL ' "$work/exports.out")))
listed=$(grep -c '^[^#]' "$here/exports/expected.txt")
if [[ $listed == $(ls "$here"/exports/*.lua | wc -l) ]]; then
    pass "every hand-edited export is listed ($listed)"
else
    fail "every hand-edited export is listed: $listed listed, $(ls "$here"/exports/*.lua | wc -l) files"
fi

# accepted NAME FILE: `vmsg dict gen --lua` exports the dictionary FILE, and
# the dissector shows the export's names and findings as `vmsg decode
# --dict FILE` does.
accepted() {
    local name=$1 file=$2 facts=$work/dict-${1//\//-}.facts
    if ! export_dictionary "$file" "$facts.lua"; then
        fail "dictionary $name accepted: vmsg dict gen --lua refuses it"
        return
    fi
    dissect "$work/corpus.pcap" "$facts" -o "vmsg.dictionary:$facts.lua"
    if grep -q 'name="vmsg.dictionary_\(refused\|unreadable\)"' "$facts.pdml"; then
        fail "dictionary $name accepted: the dissector refuses its export: $(refusal_texts "$facts" "$facts.lua")"
        return
    fi
    without_notes "$facts"
    tool_facts "$work/corpus-blocks.hex" "$facts.tool" --dict "$file"
    compare "dictionary $name exported, same names and findings as vmsg decode" "$facts.tool" "$facts.checked"
}

# refused NAME FILE PATH: `vmsg dict gen --lua` refuses FILE with the
# problems and exit status of `vmsg dict check`, the first at PATH, and
# writes nothing.
refused() {
    local name=$1 file=$2 expected=$3 out=$work/dict-${1//\//-}
    "$vmsg" dict check "$file" > "$out.check" 2> /dev/null
    local want=$?
    "$vmsg" dict gen --lua "$file" -o "$out.lua" > "$out.gen" 2> /dev/null
    local status=$? first
    first=$(first_path < "$out.check")
    if [[ "$first" != "$expected" ]]; then
        fail "dictionary $name refused at $expected: vmsg dict check says $first: $(head -n 2 "$out.check")"
    elif [[ $status -ne $want || $status -eq 0 ]] || ! cmp -s "$out.check" "$out.gen"; then
        fail "dictionary $name refused at $expected: gen --lua exits $status (check: $want), problems:"
        diff -u "$out.check" "$out.gen" | head -n 20
    elif [[ -e "$out.lua" ]]; then
        fail "dictionary $name refused at $expected: gen --lua wrote $out.lua all the same"
    else
        pass "dictionary $name refused at $expected by the export as by vmsg dict check"
    fi
}

# Every dictionary check as one line "accepted NAME FILE" or "refused NAME
# FILE PATH".
corpus=$here/../../vmsg/tests/dictionaries
{
    echo "accepted example $dict"
    for file in "$corpus"/good/*.json; do
        echo "accepted good/$(basename "$file") $file"
    done
    grep -v '^#' "$corpus/bad/expected.txt" | while read -r name expected; do
        [[ -n "$name" ]] && echo "refused bad/$name $corpus/bad/$name $expected"
    done
    grep -v '^#' "$here/dictionaries/expected.txt" | while read -r name expected; do
        if [[ "$expected" == ok ]]; then
            echo "accepted $name $here/dictionaries/$name"
        elif [[ -n "$name" ]]; then
            echo "refused $name $here/dictionaries/$name $expected"
        fi
    done
} > "$work/dictionary-checks.txt"
listed=$(grep -c '^refused bad/' "$work/dictionary-checks.txt")
if [[ $listed == $(ls "$corpus"/bad/*.json | wc -l) ]]; then
    pass "every bad dictionary of the corpus is listed ($listed)"
else
    fail "every bad dictionary of the corpus is listed: $listed listed, $(ls "$corpus"/bad/*.json | wc -l) files"
fi
# Two lanes at once: each check is mostly tshark starting. Their reports
# are printed and counted afterwards.
for lane in 0 1; do
    awk -v lane=$lane 'NR % 2 == lane' "$work/dictionary-checks.txt" | while read -r check name file expected; do
        "$check" "$name" "$file" "$expected"
    done > "$work/dictionary-lane$lane.out" 2>&1 &
done
wait
for lane in 0 1; do
    cat "$work/dictionary-lane$lane.out"
    passed=$((passed + $(grep -c '^ok ' "$work/dictionary-lane$lane.out")))
    failed=$((failed + $(grep -c '^FAIL ' "$work/dictionary-lane$lane.out")))
done

# What the export adds beyond names, as closed.json of the corpus gives it:
# its deprecated message and tag, a tag outside its object's members, and
# tags its closed messages do not list (compared with the tool above).
closed=$work/dict-good-closed.json.facts.pdml
missing_notes=""
for note in deprecated_message deprecated_tag not_member unexpected_tag; do
    grep -q "name=\"vmsg.$note\"" "$closed" 2>/dev/null || missing_notes="$missing_notes vmsg.$note"
done
if [[ -z "$missing_notes" ]]; then
    pass "good/closed.json: deprecated entries, non-members and unexpected tags marked"
else
    fail "good/closed.json: deprecated entries, non-members and unexpected tags marked: no$missing_notes"
fi

echo "== segments"
to_pcap "$here/segments.hex" "$work/segments.pcap" || exit 1
dissect "$work/segments.pcap" "$work/segments.facts" -2 -o "vmsg.dictionary:$dict_lua"
compare "segments joined, refused and linked, two passes" "$here/segments.facts" "$work/segments.facts"
quiet "segments: no Lua errors" "$work/segments.facts"
# One pass: the last segment is joined as in two, the links to later
# frames are unknown.
dissect "$work/segments.pcap" "$work/segments-1.facts" -o "vmsg.dictionary:$dict_lua"
grep -v '^  \(reassembled-in\|incomplete\|not-reassembled\)' "$here/segments.facts" > "$work/segments-1.expected"
grep -v '^  \(reassembled-in\|incomplete\|not-reassembled\)' "$work/segments-1.facts" > "$work/segments-1.checked"
compare "segments in one pass" "$work/segments-1.expected" "$work/segments-1.checked"
# More than 65535 tags joined: the library's tag count stops at 65535 and
# its structured view refuses the message.
awk 'BEGIN { tags = ""; for (i = 0; i < 255; i++) tags = tags " 05 00 00 00"
             for (i = 1; i <= 258; i++) print "000000 12 " (i < 258 ? "80" : "00") tags }' > "$work/many.pcap.txt"
"$text2pcap" -q -4 127.0.0.1,127.0.0.1 -u 40000,47800 "$work/many.pcap.txt" "$work/many.pcap"
"${TSHARK_ISOLATED[@]}" -n -X "lua_script:$lua" -o "vmsg.dictionary:$dict_lua" -r "$work/many.pcap" -Y 'frame.number == 258' \
    -T fields -e vmsg.segment.count -e _ws.expert.message 2> /dev/null > "$work/many.txt"
if grep -q '^258	.*No structured view: the message counts 65535 tags (held at 65535) but has 65790 ' "$work/many.txt"; then
    pass "65790 tags joined: no structured view"
else
    fail "65790 tags joined: no structured view: tshark said: $(cut -c 1-300 "$work/many.txt")"
fi

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
echo "== segments of vmsg segment against vmsg join"
# Two flows, 127.0.0.1:40000 and 127.0.0.2:40001, their segments
# interleaved one by one: each is joined on its own.
{
    tool encode --id 0x10 u32:1=42 str:2=pump-7 u32:3=3600 u8:32=0 f32:33=21.5 str:34=C u8:32=1 \
        f32:33=1013.25 u16:35=258 | tool segment --frame 20
    tool encode --id 0x11 u32:1=42 bytes:49=000102030405060708090a0b0c0d0e0f str:2=hello u8:48=3 |
        tool segment --frame 30
    tool encode --id 0x11 "bytes:49=$(printf '%040d' 0)" u32:1=7 u8:48=1 | tool segment --frame 20
    tool encode --id 0x11 u32:1=1 u8:48=2 | tool segment --frame 1024
    tool encode --id 0x7f --flags 0x05 u8:5=1 u8:6=2 u8:7=3 | tool segment --frame 10
} > "$work/flow-a.hex"
{
    tool encode --id 0x10 u8:32=7 u32:1=9 f32:33=-1.5 u8:32=8 str:34=K str:2=x | tool segment --frame 16
    tool encode --id 0x21 null:7 u16:35=1 u16:35=2 u16:35=3 | tool segment --frame 9
} > "$work/flow-b.hex"
# The frames in capture order ("FLOW HEX"), and each flow as text2pcap
# input stamped with its frame numbers, so that mergecap keeps the order.
paste -d '\n' <(sed 's/^/a /' "$work/flow-a.hex") <(sed 's/^/b /' "$work/flow-b.hex") | grep . \
    > "$work/flows.txt"
for flow in a b; do
    awk -v flow=$flow '$1 == flow { $1 = ""; printf "%d.000000 000000%s\n", NR, $0 }' "$work/flows.txt" \
        > "$work/flow-$flow.pcap.txt"
done
"$text2pcap" -q -t "%s.%f" -4 127.0.0.1,127.0.0.1 -u 40000,47800 "$work/flow-a.pcap.txt" "$work/flow-a.pcap"
"$text2pcap" -q -t "%s.%f" -4 127.0.0.2,127.0.0.1 -u 40001,47800 "$work/flow-b.pcap.txt" "$work/flow-b.pcap"
"$mergecap" -w "$work/flows.pcap" "$work/flow-a.pcap" "$work/flow-b.pcap"
# The links the dissector must show, from the more-segments bit of each frame.
awk '{ more = $3 ~ /^[89a-fA-F]/ }
     more || pending[$1] != "" { pending[$1] = pending[$1] " " NR }
     !more && pending[$1] != "" {
         n = split(substr(pending[$1], 2), frames, " ")
         if (n > 1) {
             for (k = 1; k < n; k++) print "block " frames[k] " segment " k " reassembled-in " NR
             print "block " NR " segment " n
             print "joined " NR " segments " substr(pending[$1], 2)
         }
         pending[$1] = ""
     }' "$work/flows.txt" | sort -s -n -k 2 > "$work/flows-links.expected"
dissect "$work/flows.pcap" "$work/flows.facts" -2 -o "vmsg.dictionary:$dict_lua"
links "$work/flows.facts" | sort -s -n -k 2 > "$work/flows-links"
compare "segments of two interleaved flows: linked" "$work/flows-links.expected" "$work/flows-links"
for flow in a b; do
    port=$([[ $flow == a ]] && echo 40000 || echo 40001)
    dissect "$work/flows.pcap" "$work/flow-$flow.facts" -2 -o "vmsg.dictionary:$dict_lua" -Y "udp.srcport == $port"
    joined_only "$work/flow-$flow.facts"
    # vmsg join passes a whole message on; the dissector joins only segments.
    awk '{ lines = lines $0 "\n"; count++ }
         $2 !~ /^[89a-fA-F]/ { if (count > 1) printf "%s", lines; lines = ""; count = 0 }' \
        "$work/flow-$flow.hex" > "$work/flow-$flow-segments.hex"
    tool join "$work/flow-$flow-segments.hex" > "$work/flow-$flow-joined.hex"
    tool_facts "$work/flow-$flow-joined.hex" "$work/flow-$flow-joined.facts" --dict "$dict"
    grep -v '^  unknown-message$' "$work/flow-$flow-joined.facts" > "$work/flow-$flow-joined.checked"
    compare "flow $flow: joined messages against vmsg join ($(grep -c . "$work/flow-$flow-joined.hex"))" \
        "$work/flow-$flow-joined.checked" "$work/flow-$flow.facts.joined"
    without_notes "$work/flow-$flow.facts"
    tool_facts "$work/flow-$flow.hex" "$work/flow-$flow-tool.facts" --dict "$dict"
    compare "flow $flow: each segment against vmsg decode" "$work/flow-$flow-tool.facts" \
        "$work/flow-$flow.facts.checked"
done

dissect "$work/whole.pcap" "$work/whole-dict.facts" -o "vmsg.dictionary:$dict_lua"
without_notes "$work/whole-dict.facts"
tool_facts "$work/whole.hex" "$work/whole-dict-tool.facts" --dict "$dict"
compare "whole blocks with the example dictionary against vmsg decode --dict" \
    "$work/whole-dict-tool.facts" "$work/whole-dict.facts.checked"

echo "wireshark dissector: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
