"""Framing blocks on byte streams: vmsg.frame, vmsg.FrameReader and the
asyncio helpers, against the vectors of docs/framing.md."""

import asyncio
import random

import pytest

import vmsg

# (framing, block, framed), as in docs/framing.md.
VECTORS = [
    ("lp", "21 00", "00 02 21 00"),
    ("lp", "21 00 05 04 00 01 07", "00 07 21 00 05 04 00 01 07"),
    ("cobs", "21 00", "02 21 01 00"),
    ("cobs", "21 00 05 04 00 01 07", "02 21 03 05 04 03 01 07 00"),
    ("cobs", "00 00", "01 01 01 00"),
    ("cobs", "11 22", "03 11 22 00"),
]


@pytest.mark.parametrize("framing, block, framed", VECTORS)
def test_vectors_both_ways(framing, block, framed):
    block, framed = bytes.fromhex(block), bytes.fromhex(framed)
    member = vmsg.Framing.COBS if framing == "cobs" else vmsg.Framing.LENGTH_PREFIX
    assert vmsg.frame(block, framing) == vmsg.frame(block, member) == framed
    assert len(framed) <= vmsg.max_framed_size(len(block), member)
    reader = vmsg.FrameReader(member)
    reader.feed(framed)
    assert list(reader) == [block]
    assert reader.dropped == 0 and reader.framing is member and str(member) == framing


@pytest.mark.parametrize("framing", list(vmsg.Framing))
def test_a_stream_fed_in_any_chunks_gives_every_block(framing):
    rng = random.Random(4)
    blocks = [vmsg.Message(rng.randrange(256)).bytes(1, rng.randbytes(rng.randrange(300))).encode()
              for _ in range(50)]
    stream = b"".join(vmsg.frame(block, framing) for block in blocks)
    reader = vmsg.FrameReader(framing)
    got, at = [], 0
    while at < len(stream):
        step = rng.randrange(1, 200)
        reader.feed(memoryview(stream)[at:at + step])
        at += step
        got.extend(reader)
    assert got == blocks
    assert reader.buffered == 0 and reader.pending == 0


def test_feed_takes_every_byte_and_queues_the_blocks():
    reader = vmsg.FrameReader("lp")
    reader.feed(bytes.fromhex("0002 2100 0000 0002 2200 00"))
    assert reader.pending == 2 and reader.dropped == 2 and reader.buffered == 0
    assert next(reader) == b"\x21\x00"
    reader.reset()
    assert list(reader) == [] and reader.dropped == 0


def test_garbage_in_a_cobs_stream_costs_only_the_frame_it_hits():
    good = [vmsg.Message(0x21).u8(5, i).encode() for i in range(3)]
    frames = [vmsg.frame(block, "cobs") for block in good]
    reader = vmsg.FrameReader(vmsg.Framing.COBS)
    reader.feed(frames[0] + b"\x20\x01" + frames[1][3:] + frames[2])
    assert list(reader) == [good[0], good[2]]
    assert reader.dropped == 2 + len(frames[1]) - 3


@pytest.mark.parametrize("call, error, match", [
    (lambda: vmsg.frame(b"\x21", "lp"), ValueError, "block of 1 bytes; a framed block has 2 to 65535 bytes"),
    (lambda: vmsg.frame(bytes(65536), "cobs"), ValueError, "block of 65536 bytes"),
    (lambda: vmsg.frame(b"\x21\x00", "slip"), ValueError, "frame\\(\\): framing: unknown framing 'slip'"),
    (lambda: vmsg.frame(b"\x21\x00", 1), TypeError, "expected a vmsg.Framing or 'lp' or 'cobs', found int"),
    (lambda: vmsg.frame("21 00", "lp"), TypeError, "frame\\(\\): block: expected bytes"),
    (lambda: vmsg.FrameReader("lp").feed("text"), TypeError, "FrameReader.feed\\(\\): data"),
])
def test_bad_arguments_are_refused(call, error, match):
    with pytest.raises(error, match=match):
        call()


def test_read_messages_turns_a_stream_into_decoded_messages():
    messages = [vmsg.Message(0x21).u8(5, i).text(9, "n%d" % i) for i in range(5)]
    stream_bytes = b"".join(vmsg.frame(m.encode(), "cobs") for m in messages) + b"\x02\x21"

    async def run():
        stream = asyncio.StreamReader()
        # Fed in pieces as a socket would deliver them, then the end.
        for at in range(0, len(stream_bytes), 7):
            stream.feed_data(stream_bytes[at:at + 7])
        stream.feed_eof()
        return [m async for m in vmsg.read_messages(stream, "cobs", chunk_size=5)]

    got = asyncio.run(asyncio.wait_for(run(), timeout=10))
    assert got == messages
    assert all(m.stop == vmsg.Stop.END for m in got)


def test_read_blocks_over_a_loopback_connection():
    blocks = [vmsg.Message(0x30).bytes(1, bytes(range(200))).encode()] * 20

    async def run():
        received = []
        done = asyncio.Event()

        async def serve(stream, writer):
            received.extend([b async for b in vmsg.read_blocks(stream, vmsg.Framing.LENGTH_PREFIX)])
            writer.close()
            done.set()

        server = await asyncio.start_server(serve, "127.0.0.1", 0)
        port = server.sockets[0].getsockname()[1]
        _, writer = await asyncio.open_connection("127.0.0.1", port)
        writer.write(b"".join(vmsg.frame(b, "lp") for b in blocks))
        await writer.drain()
        writer.close()
        await done.wait()
        server.close()
        await server.wait_closed()
        return received

    assert asyncio.run(asyncio.wait_for(run(), timeout=10)) == blocks
