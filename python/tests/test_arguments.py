"""Bad input from Python: a TypeError or ValueError that names the call and
the argument, never a crash, and nothing half-built left behind."""

import pytest

import vmsg

Message = vmsg.Message

CASES = [
    # (what, call, exception, start of the message)
    ("id too large", lambda: Message(256), ValueError, "Message(): id: expected an int from 0 to 255, found 256"),
    ("negative flags", lambda: Message(1, -1), ValueError, "Message(): flags: expected an int from 0 to 255"),
    ("float id", lambda: Message(1.0), TypeError, "Message(): id: expected an int from 0 to 255, found float"),
    ("tags not a list", lambda: Message(1, tags=5), TypeError, "Message(): tags: expected an iterable"),
    ("tags a text", lambda: Message(1, tags="u8"), TypeError, "Message(): tags: expected an iterable"),
    ("item not a tuple", lambda: Message(1, tags=[5]), TypeError, "Message(): tags[0]: expected a tuple"),
    ("item too long", lambda: Message(1, tags=[(1, "u8", 2, 3)]), ValueError, "Message(): tags[0]: expected"),
    ("value left out", lambda: Message(1, tags=[(1, "u8")]), ValueError, "Message(): tags[0]: a u8 tag needs a"),
    ("unknown type", lambda: Message(1, tags=[(1, "u64", 2)]), ValueError,
     "Message(): tags[0]: type: unknown type 'u64'; expected one of null, str, u32, u16, u8, bytes, f32"),
    ("type code 7", lambda: Message(1).add(1, 7, 0), ValueError, "Message.add(): type: expected an int from 0 to 6"),
    ("tag id", lambda: Message(1).u8(-1, 0), ValueError, "Message.u8(): tag_id: expected an int from 0 to 255"),
    ("u8 overflow", lambda: Message(1).u8(1, 256), ValueError, "Message.u8(): value: expected an int from 0 to 255"),
    ("u16 overflow", lambda: Message(1).u16(1, 65536), ValueError, "Message.u16(): value: expected an int from 0"),
    ("u32 huge", lambda: Message(1).u32(1, 10**100), ValueError, "Message.u32(): value: expected an int from 0"),
    ("u32 str", lambda: Message(1).u32(1, "7"), TypeError, "Message.u32(): value: expected an int"),
    ("f32 overflow", lambda: Message(1).f32(1, 3.5e38), ValueError, "Message.f32(): value: 3.5e+38 is beyond"),
    ("f32 huge int", lambda: Message(1).f32(1, 10**400), ValueError, "Message.f32(): value: 1000"),
    ("f32 None", lambda: Message(1).f32(1, None), TypeError, "Message.f32(): value: expected a float, found None"),
    ("null value", lambda: Message(1).add(1, "null", 0), ValueError, "Message.add(): value: a null tag takes no"),
    ("long text", lambda: Message(1).text(1, "x" * 1018), ValueError,
     "Message.text(): value: text of 1018 bytes; a str tag holds at most 1017"),
    ("long UTF-8", lambda: Message(1).text(1, "é" * 509), ValueError, "Message.text(): value: text of 1018 bytes"),
    ("NUL in text", lambda: Message(1).text(1, "a\0b"), ValueError,
     "Message.text(): value: the text holds a NUL at index 1"),
    ("lone surrogate", lambda: Message(1).text(1, "\ud800"), ValueError, "Message.text(): value: the text cannot"),
    ("text int", lambda: Message(1).text(1, 5), TypeError, "Message.text(): value: expected a str (or bytes)"),
    ("bytes str", lambda: Message(1).bytes(1, "ab"), TypeError, "Message.bytes(): value: expected bytes, bytearray"),
    ("long bytes", lambda: Message(1).bytes(1, bytes(1019)), ValueError,
     "Message.bytes(): value: 1019 bytes; a bytes tag holds at most 1018"),
    ("huge bytes", lambda: Message(1).bytes(1, bytes(10**7)), ValueError, "Message.bytes(): value: 10000000 bytes"),
    ("strided bytes", lambda: Message(1).bytes(1, memoryview(bytes(8))[::2]), TypeError,
     "Message.bytes(): value: expected contiguous"),
    ("too large", lambda: Message(1, tags=[(1, "bytes", bytes(1018))] * 2).encode(), ValueError,
     "Message.encode(): message 0x01: the tags need 2044 payload bytes; a block carries at most 1022"),
    ("frame 0", lambda: Message(1).segment(0), ValueError, "Message.segment(): frame: expected an int from 1"),
    ("decode text", lambda: vmsg.decode("21 00"), TypeError, "decode(): data: expected bytes"),
    ("huge block", lambda: vmsg.segment(bytes(70000), 10), ValueError,
     "segment(): block: block of 70000 bytes; the parser takes at most 65535"),
    ("join one block", lambda: vmsg.join(b"\x11\x00"), TypeError, "join(): segments: expected an iterable of blocks"),
    ("join of ints", lambda: vmsg.join([1]), TypeError, "join(): segments[0]: expected bytes"),
    ("key type", lambda: Message(1)["a"], TypeError, "Message[]: tag_id: expected a tag id"),
    ("dictionary type", lambda: vmsg.Endpoint(None), TypeError, "Endpoint(): dictionary: expected a vmsg.Dictionary"),
    ("message type", lambda: vmsg.structure(None, None), TypeError, "structure(): dictionary: expected a vmsg."),
    ("json type", lambda: vmsg.Dictionary.from_json(5), TypeError, "Dictionary.from_json(): text: expected a str"),
    ("dictionary path", lambda: vmsg.Dictionary.load(5), TypeError, "expected str, bytes or os.PathLike"),
]


@pytest.mark.parametrize("what, call, error, start", CASES, ids=[case[0] for case in CASES])
def test_bad_input_is_refused_naming_the_argument(what, call, error, start):
    with pytest.raises(error) as refusal:
        call()
    assert str(refusal.value).startswith(start), what


def test_a_refused_tag_leaves_the_message_as_it_was():
    message = vmsg.decode(Message(1).u8(1, 2).encode())
    for bad in (lambda: message.u8(2, 300), lambda: message.text(2, "\0"), lambda: message.add(2, "u64", 1)):
        with pytest.raises((TypeError, ValueError)):
            bad()
    assert message.tags == [(1, "u8", 2)] and message.stop == vmsg.Stop.END


def test_endpoint_arguments_are_checked_before_the_library_sees_them(dictionary):
    endpoint = vmsg.Endpoint(dictionary)
    with pytest.raises(TypeError, match=r"Endpoint.send\(\): message: expected a vmsg.Message, found bytes"):
        endpoint.send(b"\x10\x00")
    with pytest.raises(ValueError, match=r"Endpoint.bytes_out\(\): capacity: expected an int from 0"):
        endpoint.bytes_out(-1)
    with pytest.raises(TypeError, match=r"Endpoint.bytes_in\(\): data: expected bytes"):
        endpoint.bytes_in(None)
    endpoint.send(Message(0x10).u8(1, 1))
    assert len(endpoint.bytes_out(10**12)) == 7  # room beyond 65535 bytes is not used
