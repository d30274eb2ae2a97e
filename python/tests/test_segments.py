"""Segmenting and joining compared with `vmsg segment` and `vmsg join`."""

import random
import re

import pytest

import vmsg

FRAMES = [1, 7, 10, 30, 256, 1025, 4000]


def messages():
    rng = random.Random(99)
    out = [vmsg.Message(0x11), vmsg.Message(0x11, 0x80, [(1, "u32", 42)])]
    for _ in range(20):
        message = vmsg.Message(rng.randrange(256), rng.randrange(256))
        for _ in range(rng.randrange(1, 9)):
            message.bytes(rng.randrange(256), rng.randbytes(rng.choice([0, 3, 40, 200])))
            message.text(rng.randrange(256), "x" * rng.randrange(30))
        if message.payload_length <= vmsg.MAX_MESSAGE_PAYLOAD:
            out.append(message)
    return out


@pytest.mark.parametrize("frame", FRAMES)
def test_segments_are_those_of_vmsg_segment(tool, frame):
    blocks = [message.encode() for message in messages()]
    expected = tool.blocks("segment", "--frame", frame, blocks=blocks)
    assert [s for m in messages() for s in m.segment(frame)] == expected
    assert [s for b in blocks for s in vmsg.segment(b, frame)] == expected


def test_joined_segments_are_those_of_vmsg_join(tool):
    segments = [s for m in messages() for s in m.segment(30)]
    assert vmsg.join(segments) == tool.blocks("join", blocks=segments)


def test_a_message_larger_than_a_block_is_segmented_as_its_block_would_be(tool):
    # 1056 payload bytes: too many for one block, so the tool gets the tags
    # as one long block, which its parser still reads.
    message = vmsg.Message(0x21)
    for tag_id in range(11):
        message.bytes(tag_id, bytes(range(tag_id, tag_id + 92)))
    long_block = b"\x21\x00" + b"".join(vmsg.Message(0x21).bytes(i, bytes(range(i, i + 92))).encode()[2:]
                                        for i in range(11))
    with pytest.raises(ValueError):
        message.encode()
    segments = message.segment(256)
    assert segments == tool.blocks("segment", "--frame", 256, blocks=[long_block])
    assert sum(len(s) - 2 for s in segments) == message.payload_length == 1056
    # Joined again it is as large as before, and no block holds it.
    with pytest.raises(ValueError, match="has 1056 payload bytes; getMsg writes at most 1022"):
        vmsg.join(segments)


@pytest.mark.parametrize("segments, problem", [
    ([b"\x11\x80\x01\x04\x00\x01\x01", b"\x12\x00"], "segment of message 0x12 while message 0x11"),
    ([b"\x11\x80\x01\x04\x00\x01\x01"], "input ends before the last segment of message 0x11"),
    ([b"\x11\x80\x01\x04\x00\x05\x01", b"\x11\x00"], "parse stops at byte 2"),
    ([b"\x11"], "a block needs at least 2 bytes"),
])
def test_join_refuses_what_vmsg_join_refuses(tool, segments, problem):
    printed = tool.run("join", "-", input="".join(s.hex(" ") + "\n" for s in segments).encode(), check=False)
    with pytest.raises(ValueError) as refusal:
        vmsg.join(segments)
    # The same words; a segment is "stdin:N" for the tool, "segment N" here.
    said = re.sub(r"segment (\d+)", r"stdin:\1", str(refusal.value).removeprefix("join(): "))
    assert problem in said and printed.returncode == 1 and printed.stderr.decode() == f"vmsg join: {said}\n"
