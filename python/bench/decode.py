#!/usr/bin/env python3
"""What decoding and encoding a message costs through the Python module,
beside Debian's python3-msgpack (a C extension) on the same values and,
optionally, beside the C++ call of the same operation.

    decode.py [--check] [VMSG_BENCH]

Times, on message R of the benchmarks (bench/README.md: 12 tags, 338 bytes)
and on R's twelve values as one msgpack array (305 bytes: packb writes
Python's float in double precision, where msgpack-c's 301 bytes in bench/
hold a single-precision float; use_single_float=True would make packb's
call dearer, not cheaper):

    decode+values   vmsg.decode(R).tags: VMsg::parseMsg, the reader's walk
                    for the stop, the Message object, and every tag as a
                    vmsg.Tag with its Python value (what Decode_R does in
                    C++: parse, read every value, copy texts and bytes out)
    msgpack unpackb msgpack.unpackb of R's values: the list of the values
    encode          vmsg.Message(0x20, 0, items).encode(): every item's
                    arguments checked, the tags built, VMsg::getMsg
    msgpack packb   msgpack.packb of R's values
    decode          vmsg.decode(R) alone
    tags            .tags of a message decoded once: the values alone
    call floor      len(R): the cost of any call from a Python loop

each as the median of 7 runs of a timing loop, in ns per call; the runs of
the operations alternate, so that load from elsewhere falls on all of them.
The last line, for scripts, gives the ratios of vmsg to msgpack:

    ratios decode=0.91 encode=0.87

--check exits 1 when a ratio is above 1.0. With the path of vmsg_bench (a
Release build, -DVMSG_BUILD_BENCHMARKS=ON), it runs Decode_R and Reader_R
there too and prints them alongside (median CPU time of 5 repetitions).
Build the module in Release to compare like with like.
"""

import argparse
import json
import statistics
import subprocess
import sys
import tempfile
import time

import vmsg

try:
    import msgpack
except ImportError:
    sys.exit("decode.py: needs python3-msgpack (scripts/setup installs it)")

REPETITIONS = 7
CALLS = 100000

MESSAGE_ID = 0x20
ITEMS = [
    (1, "u8", 200), (2, "u16", 0x1234), (3, "u32", 0xDEADBEEF), (4, "f32", 3.25), (5, "null", None),
    (6, "str", "status: good"), (7, "str", "the quick brown fox jumps over a lazy dog"[:40]),
    (8, "bytes", bytes(0xA0 + i for i in range(16))), (9, "bytes", bytes((i * 7 + 3) & 0xFF for i in range(200))),
    (10, "u32", 4000000000), (11, "u16", 65000), (12, "u8", 7)]
VALUES = [value for _, _, value in ITEMS]

R = vmsg.Message(MESSAGE_ID, 0, ITEMS).encode()
PACKED = msgpack.packb(VALUES)
assert len(R) == 338 and len(PACKED) == 305


def timed(operation, calls):
    """The ns one call of @operation takes in a loop of @calls."""
    start = time.perf_counter_ns()
    for _ in range(calls):
        operation()
    return (time.perf_counter_ns() - start) / calls


def per_call(operations, calls=CALLS):
    """The median over REPETITIONS of each operation's ns per call, the
    operations run in turn within each repetition."""
    runs = {name: [] for name in operations}
    for _ in range(REPETITIONS):
        for name, operation in operations.items():
            runs[name].append(timed(operation, calls))
    return {name: statistics.median(times) for name, times in runs.items()}


def cxx(bench):
    # vmsg_bench prints its own table; the figures are read from its JSON file.
    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        subprocess.run([bench, "--benchmark_filter=^(Decode_R|Reader_R)$", "--benchmark_repetitions=5",
                        "--benchmark_report_aggregates_only=true", f"--benchmark_out={out.name}",
                        "--benchmark_out_format=json"], capture_output=True, check=True)
        report = json.load(out)
    return {b["run_name"]: b["cpu_time"] for b in report["benchmarks"] if b.get("aggregate_name") == "median"}


def check_results():
    """Both sides give what the other was given, so that neither is timed
    doing less."""
    decoded = vmsg.decode(R)
    assert decoded.stop == vmsg.Stop.END
    assert [tag.value for tag in decoded.tags] == msgpack.unpackb(PACKED) == VALUES
    assert [tuple(tag) for tag in decoded.tags] == ITEMS


def main(argv):
    parser = argparse.ArgumentParser(description="vmsg beside msgpack on the benchmarks' message R")
    parser.add_argument("--check", action="store_true", help="exit 1 when vmsg is slower than msgpack")
    parser.add_argument("vmsg_bench", nargs="?", help="path of vmsg_bench, to run Decode_R and Reader_R too")
    args = parser.parse_args(argv[1:])
    check_results()

    decode, Message, unpackb, packb = vmsg.decode, vmsg.Message, msgpack.unpackb, msgpack.packb
    decoded = decode(R)
    times = per_call({
        "decode+values": lambda: decode(R).tags,
        "msgpack unpackb": lambda: unpackb(PACKED),
        "encode": lambda: Message(MESSAGE_ID, 0, ITEMS).encode(),
        "msgpack packb": lambda: packb(VALUES),
    })
    times.update(per_call({
        "decode": lambda: decode(R),
        "tags": lambda: decoded.tags,
        "call floor": lambda: len(R),
    }))
    reference = cxx(args.vmsg_bench) if args.vmsg_bench else {}

    print(f"{'operation':<18}{'ns/call':>10}")
    for name, ns in times.items():
        print(f"{name:<18}{ns:>10.1f}")
    for name, ns in reference.items():
        print(f"{'C++ ' + name:<18}{ns:>10.1f}")
    if "Decode_R" in reference:
        print(f"decode+values / C++ Decode_R: {times['decode+values'] / reference['Decode_R']:.1f}x")
    ratios = {"decode": times["decode+values"] / times["msgpack unpackb"],
              "encode": times["encode"] / times["msgpack packb"]}
    print("ratios " + " ".join(f"{name}={ratio:.2f}" for name, ratio in ratios.items()))
    return 1 if args.check and max(ratios.values()) > 1.0 else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
