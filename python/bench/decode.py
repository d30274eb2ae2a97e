#!/usr/bin/env python3
"""What a decoded message costs through the Python module, beside the C++
call of the same operation.

    decode.py [VMSG_BENCH]

Times, on message R of the benchmarks (bench/README.md: 12 tags, 338 bytes):

    decode          vmsg.decode(R): VMsg::parseMsg, the reader's walk for the
                    stop, the Message object
    decode+values   vmsg.decode(R).tags: the same, and every tag as a
                    vmsg.Tag with its Python value (what Decode_R does in C++:
                    parse, read every value, copy texts and bytes out)
    tags            .tags of a message decoded once: the values alone
    call floor      len(R): the cost of any call from a Python loop

each as the median of 5 runs of a timing loop, in ns per call. With the path
of vmsg_bench (a Release build, -DVMSG_BUILD_BENCHMARKS=ON), it runs
Decode_R and Reader_R there too and prints them alongside (median CPU time
of 5 repetitions). Build the module in Release as well to compare like with
like.
"""

import json
import statistics
import subprocess
import sys
import tempfile
import time

import vmsg

REPETITIONS = 5

R = vmsg.Message(0x20, tags=[
    (1, "u8", 200), (2, "u16", 0x1234), (3, "u32", 0xDEADBEEF), (4, "f32", 3.25), (5, "null", None),
    (6, "str", "status: good"), (7, "str", "the quick brown fox jumps over a lazy dog"[:40]),
    (8, "bytes", bytes(0xA0 + i for i in range(16))), (9, "bytes", bytes((i * 7 + 3) & 0xFF for i in range(200))),
    (10, "u32", 4000000000), (11, "u16", 65000), (12, "u8", 7)]).encode()
assert len(R) == 338


def per_call(operation, calls):
    """Median over REPETITIONS of the ns one call takes in a loop."""
    runs = []
    for _ in range(REPETITIONS):
        start = time.perf_counter_ns()
        for _ in range(calls):
            operation()
        runs.append((time.perf_counter_ns() - start) / calls)
    return statistics.median(runs)


def cxx(bench):
    # vmsg_bench prints its own table; the figures are read from its JSON file.
    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        subprocess.run([bench, "--benchmark_filter=^(Decode_R|Reader_R)$", f"--benchmark_repetitions={REPETITIONS}",
                        "--benchmark_report_aggregates_only=true", f"--benchmark_out={out.name}",
                        "--benchmark_out_format=json"], capture_output=True, check=True)
        report = json.load(out)
    return {b["run_name"]: b["cpu_time"] for b in report["benchmarks"] if b.get("aggregate_name") == "median"}


def main(argv):
    decoded = vmsg.decode(R)
    assert decoded.tags[8].value[:2] == bytes([3, 10]) and decoded.stop == vmsg.Stop.END
    calls = 200000
    rows = [
        ("decode", per_call(lambda: vmsg.decode(R), calls)),
        ("decode+values", per_call(lambda: vmsg.decode(R).tags, calls)),
        ("tags", per_call(lambda: decoded.tags, calls)),
        ("call floor", per_call(lambda: len(R), calls)),
    ]
    reference = cxx(argv[1]) if len(argv) > 1 else {}
    print(f"{'operation':<16}{'ns/call':>10}")
    for name, ns in rows:
        print(f"{name:<16}{ns:>10.1f}")
    for name, ns in reference.items():
        print(f"{'C++ ' + name:<16}{ns:>10.1f}")
    if "Decode_R" in reference:
        ratio = dict(rows)["decode+values"] / reference["Decode_R"]
        print(f"decode+values / C++ Decode_R: {ratio:.1f}x")


if __name__ == "__main__":
    main(sys.argv)
