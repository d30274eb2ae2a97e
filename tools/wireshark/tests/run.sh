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

without_notes() {
    grep -v '^ *note ' "$1" > "$1.checked" || true
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
if grep -q "cannot use the dictionary: Dictionary $work/absent.json" "$work/no-file.facts.err" &&
    [[ $(grep -c 'name="vmsg.dictionary_unreadable"' "$work/no-file.facts.pdml") == \
       $(grep -c '<packet>' "$work/no-file.facts.pdml") ]]; then
    pass "a missing dictionary file is reported, and in every packet"
else
    fail "a missing dictionary file is reported, and in every packet: tshark said: $(cat "$work/no-file.facts.err")"
fi

# The texts of the dictionary's refusal in the first packet of FACTS.pdml
# ("LINE: PATH: what"), without the leading "Dictionary FILE refused: ".
refusal_texts() {
    awk '/<packet>/ && ++packets > 1 { exit } /name="vmsg.dictionary_refused"/' "$1.pdml" |
        sed 's/.*showname="\([^"]*\)".*/\1/' |
        sed "s/&#x27;/'/g; s/&quot;/\"/g; s/&lt;/</g; s/&gt;/>/g; s/&amp;/\\&/g" |
        awk -v file="$2" '
            index($0, "Dictionary " file " refused: ") == 1 { print substr($0, length(file) + 22); next }
            index($0, "Dictionary " file ": ") == 1 && !/ more problems; / { print substr($0, length(file) + 14) }'
}

# The JSON path of a problem text ("" for the whole file, - for a syntax
# error).
first_path() {
    local first
    first=$(head -n 1)
    if [[ $first =~ ^[0-9]+:[0-9]+:\ syntax\ error ]]; then
        echo -
    elif [[ $first =~ ^[0-9]+:\ ([^ ]+):\  ]]; then
        echo "${BASH_REMATCH[1]}"
    else
        echo '""'
    fi
}

# The problems `vmsg dict check` prints for FILE, without "FILE:"; a
# syntax error as "LINE: syntax error".
tool_problems() {
    "$vmsg" dict check "$1" 2> /dev/null | grep -av ": ok: " | awk -v file="$1" '
        index($0, file ":") == 1 { $0 = substr($0, length(file) + 2) }
        /^[0-9]+:[0-9]+: syntax error/ { sub(/:[0-9]+: syntax error.*/, ": syntax error") }
        { print }'
}

to_pcap "$here/corpus.hex" "$work/corpus.pcap" || exit 1
dissect "$work/corpus.pcap" "$work/corpus.facts"
if [[ -n "$vmsg" ]]; then
    grep -v '^ *#' "$here/corpus.hex" | grep . > "$work/corpus-blocks.hex"
fi

# accepted NAME FILE: the dissector takes the dictionary FILE, shows its
# names as `vmsg decode --dict` does and, given the tool, the tool accepts it.
accepted() {
    local name=$1 file=$2 facts=$work/dict-${1//\//-}.facts
    dissect "$work/corpus.pcap" "$facts" -o "vmsg.dictionary:$file"
    if grep -q 'name="vmsg.dictionary_\(refused\|unreadable\)"' "$facts.pdml"; then
        fail "dictionary $name accepted: the dissector refuses it: $(refusal_texts "$facts" "$file" | head -n 3)"
        return
    fi
    if [[ -z "$vmsg" ]]; then
        # Without the tool: the names of a file with tags show.
        if grep -q '"name"' "$file" && ! grep -q 'name="vmsg.tag.name"' "$facts.pdml"; then
            fail "dictionary $name accepted: no tag names shown"
        else
            pass "dictionary $name accepted"
        fi
        return
    fi
    if ! "$vmsg" dict check "$file" > /dev/null 2>&1; then
        fail "dictionary $name accepted: vmsg dict check refuses it"
        return
    fi
    without_notes "$facts"
    tool_facts "$work/corpus-blocks.hex" "$facts.tool" --dict "$file"
    compare "dictionary $name accepted by both, same names" "$facts.tool" "$facts.checked"
}

# refused NAME FILE PATH [dissector-only]: the dissector refuses FILE in
# every packet, naming PATH first, and dissects without names; given the
# tool, the tool refuses it with the same problems (syntax errors: on the
# same line).
refused() {
    local name=$1 file=$2 expected=$3 only=${4:-} facts=$work/dict-${1//\//-}.facts
    dissect "$work/corpus.pcap" "$facts" -o "vmsg.dictionary:$file"
    local first
    first=$(refusal_texts "$facts" "$file" | first_path)
    local packets refusals
    packets=$(grep -c '<packet>' "$facts.pdml")
    refusals=$(grep 'name="vmsg.dictionary_refused"' "$facts.pdml" | grep -c ' refused: ')
    if [[ "$first" != "$expected" ]]; then
        fail "dictionary $name refused at $expected: the dissector says $first: $(refusal_texts "$facts" "$file" | head -n 3)"
    elif [[ $refusals != "$packets" ]]; then
        fail "dictionary $name refused at $expected: $refusals of $packets packets say so"
    elif ! cmp -s "$work/corpus.facts" "$facts"; then
        fail "dictionary $name refused at $expected: the packets are not shown without names"
    elif [[ -n "$vmsg" && -z "$only" ]]; then
        refusal_texts "$facts" "$file" | sed 's/^\([0-9]*\):[0-9]*: syntax error.*/\1: syntax error/' \
            > "$facts.problems"
        tool_problems "$file" | head -n "$(wc -l < "$facts.problems")" > "$facts.tool-problems"
        "$vmsg" dict check "$file" > /dev/null 2>&1
        local status=$?
        if [[ $status -eq 1 ]] && cmp -s "$facts.problems" "$facts.tool-problems"; then
            pass "dictionary $name refused at $expected by both, with the same problems"
        else
            fail "dictionary $name refused at $expected by both, with the same problems (tool exit $status):"
            diff -u "$facts.tool-problems" "$facts.problems" | head -n 20
        fi
    else
        pass "dictionary $name refused at $expected"
    fi
}

corpus=$here/../../vmsg/tests/dictionaries
accepted example "$dict"
for file in "$corpus"/good/*.json; do
    accepted "good/$(basename "$file")" "$file"
done
listed=0
while read -r name expected only; do
    [[ -z "$name" || "$name" == \#* ]] && continue
    listed=$((listed + 1))
    refused "bad/$name" "$corpus/bad/$name" "$expected" "$only"
done < "$corpus/bad/expected.txt"
if [[ $listed == $(ls "$corpus"/bad/*.json | wc -l) ]]; then
    pass "every bad dictionary of the corpus is listed ($listed)"
else
    fail "every bad dictionary of the corpus is listed: $listed listed, $(ls "$corpus"/bad/*.json | wc -l) files"
fi
while read -r name expected only; do
    [[ -z "$name" || "$name" == \#* ]] && continue
    if [[ "$expected" == ok ]]; then
        accepted "$name" "$here/dictionaries/$name"
    else
        refused "$name" "$here/dictionaries/$name" "$expected" "$only"
    fi
done < "$here/dictionaries/expected.txt"

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
