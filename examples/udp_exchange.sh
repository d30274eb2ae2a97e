#!/usr/bin/env bash
# The examples.udp_exchange test: starts vmsg_receiver in the background on
# a free port, runs vmsg_sender against it, waits for the receiver and
# checks what it printed.
#
#   udp_exchange.sh RECEIVER SENDER WORK_DIR
set -euo pipefail

receiver=$1 sender=$2 work=$3
count=3
mkdir -p "$work"
out="$work/receiver.out"
: >"$out"

"$receiver" 0 "$count" 10000 >"$out" 2>&1 &
pid=$!
# Stop the receiver (this one process, by its id) if anything below fails.
trap 'kill "$pid" 2>/dev/null || true' EXIT

fail() {
    echo "udp_exchange: $*" >&2
    echo "--- receiver output:" >&2
    cat "$out" >&2
    exit 1
}

. "$(dirname "$0")/wait_line.sh"
port=$(wait_line "$out" '^listening on 127\.0\.0\.1:\([0-9][0-9]*\)$' "$pid") ||
    fail "the receiver did not report its port"

echo "--- $sender $port $count"
"$sender" "$port" "$count" || fail "the sender failed"

status=0
wait "$pid" || status=$?
trap - EXIT
echo "--- receiver output:"
cat "$out"
((status == 0)) || fail "the receiver exited with status $status"

# Each message arrived whole, with its objects regrouped.
for device in $(seq "$count"); do
    grep -q "\"pump-$device\"" "$out" || fail "no message from pump-$device"
done
grep -q "^received $count of $count datagrams, $count messages accepted$" "$out" ||
    fail "the receiver's summary is not as expected"
[[ $(grep -c 'required tags: all present' "$out") == "$count" ]] || fail "required tags are missing"
[[ $(grep -c 'structured message 0x10: 2 plain tags, 2 objects' "$out") == "$count" ]] ||
    fail "the structured views are not as expected"
echo "udp_exchange: OK"
