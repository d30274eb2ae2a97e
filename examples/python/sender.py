#!/usr/bin/env python3
"""Sends telemetry messages of the demo protocol as UDP datagrams to
127.0.0.1:PORT, one message per datagram: the Python twin of vmsg_sender,
byte for byte the same datagrams.

    sender.py PORT [COUNT]

COUNT telemetry messages (default 3) go out, from devices 1 to COUNT. First
a message with an id the dictionary does not define is offered, to show how
the endpoint refuses it. Exits 0 when every datagram went out.
"""

import pathlib
import socket
import sys

import vmsg

# The demo's dictionary: telemetry (16) requires device and name; sensor is
# a meta tag that opens a "Sensor" object.
DICTIONARY = vmsg.Dictionary.load(pathlib.Path(__file__).resolve().parent.parent / "dictionary.json")
UNDEFINED = 0x7F


def tag(name):
    return DICTIONARY.tag(name).id


def telemetry(device):
    """Device, name and two Sensor objects: each the sensor index (the meta
    tag), a reading and a unit."""
    return (vmsg.Message(DICTIONARY.message("telemetry").id)
            .u32(tag("device"), device)
            .text(tag("name"), f"pump-{device}")
            .u8(tag("sensor"), 0).f32(tag("reading"), 20.0 + device / 2).text(tag("unit"), "C")
            .u8(tag("sensor"), 1).f32(tag("reading"), 1013.25).text(tag("unit"), "hPa"))


def main(argv):
    if not 2 <= len(argv) <= 3 or not argv[1].isdigit() or (len(argv) == 3 and not argv[2].isdigit()):
        print(f"usage: {argv[0]} PORT [COUNT]", file=sys.stderr)
        return 2
    port, count = int(argv[1]), int(argv[2]) if len(argv) == 3 else 3
    if not 0 < port <= 65535:
        print(f"{argv[0]}: bad PORT", file=sys.stderr)
        return 2
    endpoint = vmsg.Endpoint(DICTIONARY)
    try:
        endpoint.send(vmsg.Message(UNDEFINED))
    except vmsg.UnknownMessage as refusal:
        print(f"message 0x{UNDEFINED:02x} refused: {refusal}")
    for device in range(1, count + 1):
        endpoint.send(telemetry(device))
    sent = 0
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as udp:
        while endpoint.ready():
            block = endpoint.bytes_out()
            udp.sendto(block, ("127.0.0.1", port))
            print(f"sent {len(block)} bytes")
            sent += 1
    print(f"sent {sent} of {count} messages to 127.0.0.1:{port}")
    return 0 if sent == count else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
