"""Building, encoding and decoding against the C++ tool: the bytes Python
builds are the bytes `vmsg encode` writes, and a block decodes in Python as
`vmsg decode` reads it, damaged or not."""

import gc
import math
import random
import struct
import weakref

import pytest

import vmsg
from conftest import tool_argument

README_TAGS = [(5, "u8", 7), (2, "u16", 258), (3, "f32", 1.5), (9, "str", "hello"),
               (4, "bytes", b"\x0a\x0b\xff"), (7, "null", None)]
README_BLOCK = bytes.fromhex("21 00 05 04 00 01 07 02 03 00 02 01 02 03 06 00 04 3f c0 00 00 09 01 00 06"
                             " 68 65 6c 6c 6f 00 04 05 00 03 0a 0b ff 07 00 00 00")

# vmsg.Stop and the reason names of `vmsg decode --json`.
TOOL_REASONS = {vmsg.Stop.SHORT_TAG_HEADER: "short-header", vmsg.Stop.LENGTH_BEYOND_BLOCK: "length-beyond-block",
                vmsg.Stop.UNKNOWN_TYPE: "unknown-type-code", vmsg.Stop.SHORT_FIXED_VALUE: "short-fixed-value"}


def random_float(rng):
    while True:
        value = struct.unpack(">f", rng.randbytes(4))[0]
        if not math.isnan(value):
            return value


def random_text(rng, size):
    alphabet = "abc xyz=:,#0x\\\"'\t\né€\U0001f600"
    text = "".join(rng.choice(alphabet) for _ in range(size))
    while len(text.encode()) > vmsg.MAX_TEXT:
        text = text[:-1]
    return text


def random_tag(rng):
    kind = rng.choice(vmsg.TYPES)
    tag_id = rng.choice([0, 1, 255, rng.randrange(256)])
    long = rng.random() < 0.05
    value = {
        "null": lambda: None,
        "u8": lambda: rng.choice([0, 255, rng.randrange(256)]),
        "u16": lambda: rng.choice([0, 65535, rng.randrange(65536)]),
        "u32": lambda: rng.choice([0, 2**32 - 1, rng.randrange(2**32)]),
        "f32": lambda: rng.choice([0.0, -0.0, math.inf, -math.inf, random_float(rng)]),
        "str": lambda: random_text(rng, rng.randrange(900, 1018) if long else rng.randrange(20)),
        "bytes": lambda: rng.randbytes(rng.randrange(900, 1019) if long else rng.randrange(40)),
    }[kind]()
    return vmsg.Tag((tag_id, kind, value))


def random_tags(rng):
    return [random_tag(rng) for _ in range(rng.randrange(13))]


def test_readme_block_is_built_decoded_and_shown_as_the_tool_does(tool):
    message = vmsg.Message(0x21, tags=README_TAGS)
    chained = vmsg.Message(0x21).u8(5, 7).u16(2, 258).f32(3, 1.5).text(9, "hello").bytes(4, b"\x0a\x0b\xff").null(7)
    assert message.encode() == chained.encode() == README_BLOCK
    assert message.encode() == tool.encode(0x21, 0, [tool_argument(vmsg.Tag(t)) for t in README_TAGS])
    decoded = vmsg.decode(README_BLOCK)
    assert decoded.tags == README_TAGS
    assert (decoded.stop, decoded.stop_offset) == (vmsg.Stop.END, len(README_BLOCK))
    assert decoded == message and decoded[9] == "hello" and decoded.get(8) is None and 8 not in decoded
    shown = tool.run("decode", "-", input=README_BLOCK.hex(" ").encode()).stdout.decode()
    assert repr(decoded) == repr(message) == shown.split("\n", 1)[1].rstrip("\n")


def test_random_tags_give_the_bytes_of_vmsg_encode(tool):
    rng = random.Random(17)
    for case in range(150):
        msg_id, flags, tags = rng.randrange(256), rng.randrange(256), random_tags(rng)
        message = vmsg.Message(msg_id, flags, tags)
        arguments = [tool_argument(tag) for tag in tags]
        expected = tool.run("encode", "--id", msg_id, "--flags", flags, "--raw", *arguments, check=False)
        if expected.returncode != 0:
            # Both refuse a message too large for one block, naming its size.
            with pytest.raises(ValueError, match="payload bytes; a block carries at most 1022") as refusal:
                message.encode()
            needed = str(refusal.value).split("the tags need ")[1].split(" ")[0]
            assert f"the tags need {needed} payload bytes" in expected.stderr.decode(), case
            continue
        assert message.encode() == expected.stdout, case
        decoded = vmsg.decode(expected.stdout)
        assert decoded.tags == tags and (decoded.id, decoded.flags) == (msg_id, flags), case
        assert decoded.encode() == expected.stdout


def test_text_bytes_that_are_not_utf8_survive_a_round_trip(tool):
    raw = b"caf\xe9 \xff\xfe"
    block = tool.encode(1, 0, [b"str:2=" + raw])
    text = vmsg.decode(block)[2]
    assert text.encode("utf-8", "surrogateescape") == raw
    assert vmsg.Message(1).text(2, text).encode() == vmsg.Message(1).text(2, raw).encode() == block


def damaged_blocks():
    rng = random.Random(4711)
    sources = [README_BLOCK, vmsg.Message(0x10, 0x80, [(1, "u32", 42), (2, "str", "pump-7")]).encode()]
    blocks = [source[:n] for source in sources for n in range(2, len(source) + 1)]
    for _ in range(300):
        block = bytearray(rng.choice(sources))
        for _ in range(rng.randrange(1, 4)):
            block[rng.randrange(2, len(block))] = rng.choice([0, 1, 4, 6, 7, 0xff, rng.randrange(256)])
        blocks.append(bytes(block))
    blocks += [bytes([1, 0]) + rng.randbytes(rng.randrange(60)) for _ in range(300)]
    return blocks


def same_value(tag, reported):
    if tag.type == "f32":
        return struct.pack(">f", tag.value).hex() == reported["bits"][2:]
    if tag.type == "bytes":
        return tag.value == bytes.fromhex(reported["value"])
    if tag.type == "str":
        return tag.value.encode("utf-8", "surrogateescape").decode("utf-8", "replace") == reported["value"]
    return tag.value == reported["value"]


def test_damaged_blocks_stop_where_and_why_the_tool_says(tool):
    blocks = damaged_blocks()
    for block, report in zip(blocks, tool.decode_json(blocks), strict=True):
        decoded = vmsg.decode(block)
        stop = report["stop"]
        if stop is None:
            assert (decoded.stop, decoded.stop_offset) == (vmsg.Stop.END, len(block)), block.hex()
        else:
            assert TOOL_REASONS[decoded.stop] == stop["reason"] and decoded.stop_offset == stop["offset"], block.hex()
        assert [(t.id, t.type) for t in decoded.tags] == [(t["id"], t["type"]) for t in report["tags"]]
        assert all(same_value(t, r) for t, r in zip(decoded.tags, report["tags"])), block.hex()
        assert (decoded.tag_count, decoded.payload_length) == \
            (report["message"]["tag_count"], report["message"]["payload_length"])


def test_decoded_blocks_encode_as_the_library_writes_them_again(tool):
    # `vmsg join` of one last segment is parseMsg then getMsg.
    whole = [b for b in damaged_blocks() if vmsg.decode(b).stop == vmsg.Stop.END and not b[1] & 0x80]
    assert len(whole) > 50
    assert [vmsg.decode(block).encode() for block in whole] == tool.blocks("join", blocks=whole)


def test_blocks_the_parser_cannot_take_are_refused_as_the_endpoint_refuses_them():
    for block in (b"", b"\x21", bytes(65536)):
        with pytest.raises(vmsg.ParseFailed) as refusal:
            vmsg.decode(block)
        assert isinstance(refusal.value, ValueError) and refusal.value.code == 7 and refusal.value.detail is None
    assert vmsg.decode(bytes(65534)).stop == vmsg.Stop.END  # 16383 null tags


def test_a_message_changed_after_decoding_no_longer_reports_the_block():
    decoded = vmsg.decode(README_BLOCK[:-5])  # cut inside the bytes tag at 31
    assert decoded.stop == vmsg.Stop.LENGTH_BEYOND_BLOCK and "parse stopped at byte 31" in repr(decoded)
    decoded.u8(1, 2)
    assert decoded.stop is None and decoded.stop_offset is None and "parse stopped" not in repr(decoded)
    assert decoded.tags[-1] == (1, "u8", 2) and len(decoded) == 5


def test_lookup_finds_the_first_tag_of_ids_0_and_255_and_no_id_beyond():
    message = vmsg.Message(0x10, tags=[(0, "u8", 1), (255, "u16", 2), (0, "u8", 3)])
    decoded = vmsg.decode(message.encode())
    for m in (message, decoded):
        assert m[0] == 1 and 0 in m and m.get(0) == 1 and m.values(0) == [1, 3]
        assert m[255] == 2 and 255 in m and m.get(255) == 2
        for outside in (-1, 256):
            assert outside not in m and m.get(outside, "none") == "none" and m.values(outside) == []
            with pytest.raises(KeyError):
                m[outside]


def test_values_and_lookup_read_every_tag_of_an_id():
    message = vmsg.Message(0x10, tags=[(32, "u8", 0), (33, "f32", 21.5), (32, "u8", 1), (33, "f32", 0.1)])
    assert message.values(33) == [21.5, struct.unpack(">f", struct.pack(">f", 0.1))[0]]
    assert message[32] == 0 and list(message) == message.tags and message.values(300) == []
    with pytest.raises(KeyError):
        message[7]


def test_tags_read_in_place_are_the_tags_the_library_parses_and_builds():
    # .tags of an unchanged decoded message, and of a built one not yet
    # read otherwise, come from the wire bytes; iterating goes through the
    # library's message. Both must agree, damaged blocks included.
    def shown(tags):  # a NaN is not equal to itself
        return [(t.id, t.type, repr(t.value)) for t in tags]

    for block in damaged_blocks():
        assert shown(vmsg.decode(block).tags) == shown(vmsg.decode(block)), block.hex()
    rng = random.Random(99)
    for case in range(100):
        tags = random_tags(rng)
        built = vmsg.Message(7, 0x80, tags)
        assert built.tags == tags and built.id == 7 and built.flags == 0x80, case
        made = vmsg.Message(7, 0x80, tags)
        assert len(made) == len(tags), case  # now through the library's message
        try:
            block = built.encode()
        except ValueError:
            with pytest.raises(ValueError, match="payload bytes; a block carries at most 1022"):
                made.encode()
        else:
            assert made.encode() == block and vmsg.decode(block).tags == list(made) == tags, case
        # Tags added after the message was read go on the end.
        built.u8(1, 2).text(3, "x")
        assert built.tags == list(built) == tags + [(1, "u8", 2), (3, "str", "x")], case


def test_decoded_tags_outlive_their_message_and_reused_tags_start_fresh():
    block = vmsg.Message(1, tags=[(i, "str", f"t{i}") for i in range(100)]).encode()
    kept = vmsg.decode(block).tags
    lists = [vmsg.decode(block).tags for _ in range(30)]  # more tags than are kept for reuse
    del lists
    assert kept == [(i, "str", f"t{i}") for i in range(100)]
    made = vmsg.Tag((300, "any", [1]))  # made by Python, released through the module's tags
    assert made.value == [1] and isinstance(kept[0], vmsg.Tag) and kept[5].id == 5
    del made
    assert vmsg.decode(block).tags[99] == (99, "str", "t99")


def test_tags_are_read_whole_when_a_collection_during_the_read_changes_the_message():
    # A collection set off by a new object while the tags are read may run a
    # finalizer that changes that very message, dropping its block or moving
    # its added tags: the read goes on over the tags it started with.
    tags = [(i, "bytes", bytes([i]) * 8) for i in range(80)]  # more than a list is first gathered in
    block = vmsg.Message(1, tags=tags).encode()
    for make in (lambda: vmsg.decode(bytearray(block)), lambda: vmsg.Message(1, tags=tags)):
        victim = make()
        fired = []

        class Changer:
            def __del__(self):
                victim.bytes(200, bytes(1000))  # decoded: no block; built: added tags moved
                fired.append([bytes([0xEE]) * size for size in (len(block), 1024, 2048) for _ in range(4)])

        gc.collect()
        thresholds = gc.get_threshold()
        try:
            changer = Changer()
            changer.cycle = changer
            del changer
            gc.set_threshold(1)
            read = victim.tags
        finally:
            gc.set_threshold(*thresholds)
        assert fired and read == tags, len(read)
        assert victim.tags == tags + [(200, "bytes", bytes(1000))]


def test_long_lists_of_tags_stop_where_the_library_stops():
    # Around the count of tags a list is first gathered in, whole, with its
    # last tag cut and with an unknown type after it.
    for count in (63, 64, 65, 130, 300):
        tags = [(i % 256, "u16" if i % 3 else "str", i if i % 3 else f"n{i}") for i in range(count)]
        block = b"\x02\x00" + b"".join(vmsg.Message(2, tags=[tag]).encode()[2:] for tag in tags)
        cases = [(block, tags, vmsg.Stop.END), (block[:-1], tags[:-1], vmsg.Stop.LENGTH_BEYOND_BLOCK),
                 (block + b"\x01\x09\x00\x00", tags, vmsg.Stop.UNKNOWN_TYPE)]
        for damaged, expected, stop in cases:
            decoded = vmsg.decode(damaged)
            assert decoded.tags == expected == list(vmsg.decode(damaged)), (count, len(damaged))
            assert decoded.stop == stop, (count, len(damaged))


def test_decoded_messages_made_and_dropped_by_the_hundred_keep_their_own_block():
    blocks = [vmsg.Message(i, i ^ 0x80, [(1, "u8", i), (2, "str", f"m{i}")]).encode() for i in range(200)]
    blocks[7] = blocks[7][:-1]  # its text cut
    for _ in range(3):
        alive = [vmsg.decode(block) for block in blocks]  # more than are kept for reuse
        for i, message in enumerate(alive):
            assert (message.id, message.flags, message[1]) == (i, i ^ 0x80, i), i
            assert message.stop == (vmsg.Stop.LENGTH_BEYOND_BLOCK if i == 7 else vmsg.Stop.END), i
        del alive, message
    # A second __init__ leaves a decoded message as it is, as for a built one.
    decoded = vmsg.decode(blocks[3])
    decoded.__init__(9, 0, [(5, "u8", 5)])
    assert decoded.encode() == blocks[3] and decoded.stop == vmsg.Stop.END
    # Weak references, and subclasses with attributes of their own, go as
    # pybind11's instances go.
    gone = []
    watched = weakref.ref(vmsg.decode(blocks[4]), gone.append)
    assert watched() is None and len(gone) == 1

    class Noted(vmsg.Message):
        pass

    noted = Noted(0x21, 0, README_TAGS)
    noted.note = [noted.tags]
    watched = weakref.ref(noted, gone.append)
    assert noted.note[0] == README_TAGS
    del noted
    gc.collect()
    assert watched() is None and len(gone) == 2 and vmsg.decode(blocks[5])[2] == "m5"


def test_tags_in_reference_cycles_are_collected_and_their_memory_reused_safely():
    class Box:
        pass

    block = vmsg.Message(1, tags=[(i, "bytes", bytes([i])) for i in range(40)]).encode()
    watched = []
    for i in range(50):  # tags the collector tracks, then kept for the module's tags
        box = Box()
        box.tag = vmsg.Tag((i, "box", box))
        watched.append(weakref.ref(box))
        del box
    gc.collect()
    assert all(w() is None for w in watched)
    # Only a tag that holds containers is left to the collector.
    assert not gc.is_tracked(vmsg.Tag((1, "u8", 2))) and gc.is_tracked(vmsg.Tag((1, "x", [])))
    kept = [vmsg.decode(block).tags for _ in range(3)]
    gc.collect()  # a reused tag still tracked would be visited here
    assert all(tags == [(i, "bytes", bytes([i])) for i in range(40)] for tags in kept)
    assert all(not gc.is_tracked(tag) for tag in kept[0])


def test_a_struct_sequence_moved_to_the_class_tag_leaves_the_collector_when_released():
    # vmsg.TagDef has the layout of vmsg.Tag, so Python may give one of its
    # instances, which the collector tracks, the class vmsg.Tag. Released, it
    # must be taken off the collector's list before it is kept for reuse:
    # else a collection finds it there, dead.
    block = vmsg.Message(1, tags=[(i, "u8", i) for i in range(100)]).encode()
    held = [vmsg.decode(block).tags for _ in range(30)]  # every tag kept for reuse taken, so there is room
    gc.collect()
    moved = vmsg.TagDef((1, "name", "u8"))
    assert gc.is_tracked(moved)
    moved.__class__ = vmsg.Tag
    del moved
    assert gc.collect() == 0
    tags = vmsg.Message(1, tags=[(5, "u8", 7), (6, "u8", 8)]).tags
    assert tags == [(5, "u8", 7), (6, "u8", 8)] and tags[0] is not tags[1] and held[29][99] == (99, "u8", 99)


def test_the_fast_entry_points_take_arguments_and_subclasses_as_before():
    assert vmsg.decode(data=README_BLOCK).tags == README_TAGS
    assert vmsg.decode(bytearray(README_BLOCK)).tags == vmsg.decode(memoryview(README_BLOCK)).tags == README_TAGS
    for call in (lambda: vmsg.decode(), lambda: vmsg.decode(README_BLOCK, README_BLOCK),
                 lambda: vmsg.decode(block=README_BLOCK)):
        with pytest.raises(TypeError, match="decode"):
            call()
    with pytest.raises(TypeError, match="decode\\(\\): data: expected bytes"):
        vmsg.decode("21 00")

    class Stamped(vmsg.Message):
        pass

    stamped = Stamped(0x21, 0, README_TAGS)
    assert stamped.tags == README_TAGS and stamped.encode() == README_BLOCK
    with pytest.raises(TypeError):
        vmsg.Message.encode(object())
    with pytest.raises(ValueError, match="the tags need 1050 payload bytes"):
        vmsg.Message(1).bytes(1, bytes(1000)).bytes(2, bytes(42)).encode()


def test_the_constructor_takes_its_arguments_by_position_or_name_and_once():
    assert vmsg.Message(0x21, 0, README_TAGS).encode() == vmsg.Message(tags=README_TAGS, id=0x21).encode() \
        == README_BLOCK
    assert vmsg.Message(3, flags=0x80).encode() == b"\x03\x80"
    for call in (lambda: vmsg.Message(), lambda: vmsg.Message(1, 0, (), 4), lambda: vmsg.Message(1, colour=2),
                 lambda: vmsg.Message(1, id=2)):
        with pytest.raises(TypeError, match="Message"):
            call()
    message = vmsg.Message(1).u8(2, 3)
    message.__init__(9)  # a second call changes nothing, as for any pybind11 class
    assert message.encode() == b"\x01\x00\x02\x04\x00\x01\x03"

    # An __init__ that runs while another reads its tags: the first to
    # finish makes the message, the other changes nothing (and leaks nothing).
    nested = vmsg.Message.__new__(vmsg.Message)

    def items():
        nested.__init__(2, 0, [(1, "u8", 1)])
        yield (3, "u8", 3)

    nested.__init__(1, 0, items())
    assert nested.encode() == b"\x02\x00\x01\x04\x00\x01\x01"

    class Late(vmsg.Message):
        def __init__(self):
            pass

    with pytest.raises(TypeError, match="__init__\\(\\) must be called"):
        Late()
