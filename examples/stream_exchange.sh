#!/usr/bin/env bash
# The examples.stream_* tests: the TCP and serial examples against the
# tool's send and listen.
#
#   stream_exchange.sh MODE EXAMPLE VMSG SOCAT WORK_DIR
#
# MODE tcp_receiver: EXAMPLE (vmsg_tcp_receiver) on a free port, fed by
#   `vmsg send tcp://`; tcp_sender: `vmsg listen tcp://` fed by EXAMPLE
#   (vmsg_tcp_sender); serial_receiver and serial_sender the same over a
#   pseudo-terminal pair that socat makes, with COBS framing.
set -euo pipefail

mode=$1 example=$2 vmsg=$3 socat=$4 work=$5
count=3
dictionary=$(dirname "$0")/dictionary.json
mkdir -p "$work"
rm -f "$work"/*
pids=()
# Stop what this script started (each process by its id) on the way out.
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done' EXIT

fail() {
    echo "stream_exchange $mode: $*" >&2
    for f in "$work"/*.out "$work"/*.err; do
        [[ -f $f ]] && { echo "--- $f" >&2; cat "$f" >&2; }
    done
    exit 1
}

. "$(dirname "$0")/wait_line.sh"

# The blocks the tool sends: the demo's telemetry of pumps 1 to COUNT.
tool_blocks() {
    local device
    for device in $(seq "$count"); do
        "$vmsg" encode --id 0x10 "u32:1=$device" "str:2=pump-$device" u8:32=0 f32:33=20.5 str:34=C
    done
}

# Two pseudo-terminals joined by socat: what is written to one is read
# from the other.
pty_pair() {
    [[ -x $socat ]] || fail "socat is not installed (Debian: socat; scripts/setup installs it)"
    "$socat" -d -d "pty,raw,echo=0,link=$work/a" "pty,raw,echo=0,link=$work/b" 2>"$work/socat.err" &
    pids+=($!)
    for _ in $(seq 100); do
        [[ -e $work/a && -e $work/b ]] && grep -q 'starting data transfer loop' "$work/socat.err" && return 0
        sleep 0.1
    done
    fail "socat made no pseudo-terminal pair"
}

case $mode in
tcp_receiver)
    "$example" 0 "$count" 20000 >"$work/example.out" 2>&1 &
    pid=$!
    pids+=("$pid")
    port=$(wait_line "$work/example.out" '^listening on 127\.0\.0\.1:\([0-9][0-9]*\)$') || fail "no port"
    tool_blocks | "$vmsg" send "tcp://127.0.0.1:$port" || fail "vmsg send failed"
    wait "$pid" || fail "the receiver failed"
    [[ $(grep -c '^message 0x10 from pump-[0-9]: 5 tags, required tags: all present$' "$work/example.out") == \
        "$count" ]] || fail "not every message arrived"
    ;;
tcp_sender)
    "$vmsg" listen --dict "$dictionary" --count "$count" --timeout 20 tcp://127.0.0.1:0 \
        >"$work/listen.out" 2>"$work/listen.err" &
    pid=$!
    pids+=("$pid")
    port=$(wait_line "$work/listen.err" '^vmsg listen: listening on tcp:\/\/127\.0\.0\.1:\([0-9][0-9]*\)$') ||
        fail "no port"
    "$example" "$port" "$count" >"$work/example.out" 2>&1 || fail "the sender failed"
    wait "$pid" || fail "vmsg listen failed"
    for device in $(seq "$count"); do
        grep -qF "\"pump-$device\"" "$work/listen.out" || fail "no message from pump-$device"
    done
    ;;
serial_receiver)
    pty_pair
    "$example" "$work/a" "$count" 20000 >"$work/example.out" 2>&1 &
    pid=$!
    pids+=("$pid")
    wait_line "$work/example.out" '^\(reading\) ' >/dev/null || fail "the receiver did not start"
    # Noise on the line first: the reader drops it at the sender's first
    # delimiter... which `vmsg send` writes on a terminal before its frames.
    printf 'noise\x07' >"$work/b"
    tool_blocks | "$vmsg" send --framing cobs "file:$work/b" || fail "vmsg send failed"
    wait "$pid" || fail "the receiver failed"
    [[ $(grep -c '^message 0x10 from pump-[0-9]: 5 tags, required tags: all present$' "$work/example.out") == \
        "$count" ]] || fail "not every message arrived"
    grep -q "^received $count of $count messages, 0 refused, 7 bytes dropped$" "$work/example.out" ||
        fail "the noise was not dropped as expected"
    ;;
serial_sender)
    pty_pair
    "$vmsg" listen --framing cobs --dict "$dictionary" --count "$count" --timeout 20 "file:$work/a" \
        >"$work/listen.out" 2>"$work/listen.err" &
    pid=$!
    pids+=("$pid")
    wait_line "$work/listen.err" '^vmsg listen: \(listening\) on ' >/dev/null || fail "vmsg listen did not start"
    "$example" "$work/b" "$count" >"$work/example.out" 2>&1 || fail "the sender failed"
    wait "$pid" || fail "vmsg listen failed"
    for device in $(seq "$count"); do
        grep -qF "\"pump-$device\"" "$work/listen.out" || fail "no message from pump-$device"
    done
    ;;
*)
    fail "unknown mode"
    ;;
esac
echo "stream_exchange $mode: OK"
