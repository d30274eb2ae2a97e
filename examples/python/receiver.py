#!/usr/bin/env python3
"""Receives messages of the demo protocol as UDP datagrams on
127.0.0.1:PORT and prints each one, whether its required tags are there, and
its structured view: the Python twin of vmsg_receiver.

    receiver.py PORT COUNT [TIMEOUT_MS]

PORT 0 takes any free port. The first line printed is
"listening on 127.0.0.1:<port>". The receiver stops after COUNT datagrams,
or when TIMEOUT_MS (default 5000) have passed since it started; it exits 0
when COUNT datagrams arrived and every one gave an accepted message.
"""

import pathlib
import socket
import sys
import time

import vmsg

DICTIONARY = vmsg.Dictionary.load(pathlib.Path(__file__).resolve().parent.parent / "dictionary.json")


def indented(text, indent):
    return "\n".join(indent + line for line in text.splitlines())


def show(message):
    """The message as `vmsg decode` shows it, its required tags and its
    structured view."""
    print(indented(repr(message), "  "))
    missing = vmsg.missing_tags(DICTIONARY, message)
    print(f"  required tags: {'missing' if missing else 'all present'}")
    for tag_id in missing:
        print(f"    tag {tag_id} ({DICTIONARY.tag(tag_id).name})")
    print(indented(repr(vmsg.structure(DICTIONARY, message)), "  "))


def main(argv):
    if not 3 <= len(argv) <= 4 or not all(arg.isdigit() for arg in argv[1:]):
        print(f"usage: {argv[0]} PORT COUNT [TIMEOUT_MS]", file=sys.stderr)
        return 2
    port, count = int(argv[1]), int(argv[2])
    timeout = int(argv[3]) / 1000 if len(argv) == 4 else 5.0
    if port > 65535:
        print(f"{argv[0]}: bad PORT", file=sys.stderr)
        return 2
    deadline = time.monotonic() + timeout
    endpoint = vmsg.Endpoint(DICTIONARY)
    received = accepted = 0
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as udp:
        udp.bind(("127.0.0.1", port))
        print(f"listening on 127.0.0.1:{udp.getsockname()[1]}", flush=True)  # a script waits for this line
        while received < count:
            udp.settimeout(max(deadline - time.monotonic(), 0.001))
            try:
                datagram = udp.recv(65536)
            except socket.timeout:
                break
            received += 1
            print(f"datagram {received}: {len(datagram)} bytes")
            try:
                endpoint.bytes_in(datagram)
            except vmsg.ProtocolError as refusal:
                print(f"  refused: {refusal}")
                continue
            while (message := endpoint.get_message()) is not None:
                show(message)
                accepted += 1
            sys.stdout.flush()
    late = " (timed out)" if received < count else ""
    print(f"received {received} of {count} datagrams, {accepted} messages accepted{late}")
    return 0 if received == count and accepted == count else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
