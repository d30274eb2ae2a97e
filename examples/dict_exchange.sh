#!/usr/bin/env bash
# The examples.dict_receiver test: vmsg_dict_receiver loads the demo's
# dictionary file at run time and receives, on a free port, the blocks that
# `vmsg send udp://` sends it; it prints each with the dictionary's names.
# Then the receiver is given a dictionary the checker refuses, and must
# print the problems `vmsg dict check` prints and exit 2.
#
#   dict_exchange.sh RECEIVER VMSG WORK_DIR
set -euo pipefail

receiver=$1 vmsg=$2 work=$3
examples=$(cd "$(dirname "$0")" && pwd)
count=3
mkdir -p "$work"
out="$work/receiver.out"
: >"$out"

fail() {
    echo "dict_exchange: $*" >&2
    echo "--- receiver output:" >&2
    cat "$out" >&2
    exit 1
}

"$receiver" "$examples/dictionary.json" 0 "$count" 10000 >"$out" 2>&1 &
pid=$!
# Stop the receiver (this one process, by its id) if anything below fails.
trap 'kill "$pid" 2>/dev/null || true' EXIT

. "$(dirname "$0")/wait_line.sh"
port=$(wait_line "$out" '^listening on 127\.0\.0\.1:\([0-9][0-9]*\)$' "$pid") ||
    fail "the receiver did not report its port"

# A telemetry message with a Sensor, one whose required name is missing, and
# a command whose last tag is cut short.
{
    "$vmsg" encode --id 0x10 u32:1=7 str:2=pump-7 u8:32=0 f32:33=21.5 str:34=C
    "$vmsg" encode --id 0x10 u32:1=8
    echo "11 00 01 02 00 04 00 00 00 09 30 04 00 01 05 31 05 00 08 aa"
} | "$vmsg" send "udp://127.0.0.1:$port" || fail "vmsg send failed"

status=0
wait "$pid" || status=$?
trap - EXIT
echo "--- receiver output:"
cat "$out"
((status == 0)) || fail "the receiver exited with status $status"

expect() {
    grep -qF -- "$1" "$out" || fail "no line \"$1\""
}
expect "dictionary $examples/dictionary.json: 2 messages, 9 tags, 1 object"
expect "message 0x10 telemetry, flags 0x00, 5 tags, 38 payload bytes"
expect "      26   33  reading  f32        4  21.5 (bits 0x41ac0000)"
expect "    object Sensor, opened by tag 32 sensor u8 0 (0x00)"
expect "      tag 34 unit str \"C\""
expect "    ErrMissingTag (detail 02): required tag 2 (name) is missing"
expect "message 0x11 command, flags 0x00, 2 tags, 13 payload bytes"
expect "  parse stopped at byte 15: tag 49 declares 8 payload bytes but only 1 follow its header; 5 bytes left unread"
# The receive path takes no block that is cut short.
expect "  receive path: refused, the block yields no message: length-beyond-block at offset 15"
expect "received $count of $count datagrams, 2 messages accepted"

# A refused dictionary: every problem, as the tool's checker words it.
bad=$work/bad.json
printf '{\n  "messages": [ { "id": 300, "name": "x" } ],\n  "tags": [ { "id": 1, "name": "a", "type": "nope" } ]\n}\n' >"$bad"
status=0
"$receiver" "$bad" 0 1 100 >"$work/bad.out" 2>"$work/bad.err" || status=$?
((status == 2)) || fail "a refused dictionary gave exit status $status, not 2"
"$vmsg" dict check "$bad" >"$work/check.out" 2>/dev/null || true
grep -v 'problem(s); nothing received$' "$work/bad.err" | diff -u "$work/check.out" - ||
    fail "the problems differ from those of vmsg dict check"
[[ $(wc -l <"$work/check.out") == 2 ]] || fail "vmsg dict check did not find the 2 problems"
grep -q "listening" "$work/bad.out" && fail "the receiver listened with a refused dictionary"
echo "dict_exchange: OK"
