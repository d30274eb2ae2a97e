"""The endpoint and every error code: each refusal of the library arrives as
the ProtocolError subclass of its code, with its detail decoded."""

import pytest

import vmsg

TELEMETRY = [(1, "u32", 42), (2, "str", "pump-7"), (32, "u8", 0), (33, "f32", 21.5)]
TOUR_BLOCK = bytes.fromhex("10 00 01 02 00 04 00 00 00 2a 02 01 00 07 70 75 6d 70 2d 37 00"
                           " 20 04 00 01 00 21 06 00 04 41 ac 00 00")
ERROR_CLASSES = [(vmsg.UnknownMessage, 1, "ErrUnknownMessage"), (vmsg.MissingTag, 3, "ErrMissingTag"),
                 (vmsg.BufferTooSmall, 5, "ErrBufferTooSmall"), (vmsg.LengthMismatch, 6, "ErrLengthMismatch"),
                 (vmsg.ParseFailed, 7, "ErrParseFailed"), (vmsg.NullArgument, 10, "ErrNullArgument"),
                 (vmsg.TagCountMismatch, 11, "ErrTagCountMismatch"), (vmsg.QueueFull, 12, "ErrQueueFull"),
                 (vmsg.JoinTooLarge, 13, "ErrJoinTooLarge")]


@pytest.fixture
def endpoint(dictionary):
    return vmsg.Endpoint(dictionary)


def raised(error_class, call, *args):
    with pytest.raises(error_class) as info:
        call(*args)
    error = info.value
    assert isinstance(error, vmsg.ProtocolError) and (error.code, error.name) == (error_class.code, error_class.name)
    assert error.errors[0].text in str(error)
    return error


@pytest.mark.parametrize("error_class, code, name", ERROR_CLASSES)
def test_one_exception_class_per_error_code(error_class, code, name):
    assert issubclass(error_class, vmsg.ProtocolError) and (error_class.code, error_class.name) == (code, name)


def test_the_tour_goes_out_and_comes_back_as_its_34_bytes(endpoint):
    sent = vmsg.Message(0x10, tags=TELEMETRY)
    assert endpoint.bytes_out() == b"" and not endpoint.ready()
    endpoint.send(sent)
    assert endpoint.ready() and sent.tags == TELEMETRY  # the endpoint queued a copy
    block = endpoint.bytes_out()
    assert block == TOUR_BLOCK == sent.encode()
    endpoint.bytes_in(block)
    received = endpoint.get_message()
    assert received == sent and (received.stop, received.stop_offset) == (vmsg.Stop.END, 34)
    assert endpoint.get_message() is None
    endpoint.check(received)


def test_undefined_ids_are_refused_going_out_and_coming_in(endpoint):
    message = vmsg.Message(0x7F).u8(5, 7)
    error = raised(vmsg.UnknownMessage, endpoint.send, message)
    assert error.detail == 0x7F and error.data == b"\x7f"
    assert str(error) == "ErrUnknownMessage (detail 7f): message id 0x7f is not in the dictionary"
    assert not endpoint.ready() and message.tags == [(5, "u8", 7)]
    assert raised(vmsg.UnknownMessage, endpoint.bytes_in, message.encode()).detail == 0x7F
    assert raised(vmsg.UnknownMessage, endpoint.check, message).detail == 0x7F
    assert endpoint.get_message() is None


def test_missing_required_tags_are_named_by_the_dictionary(endpoint, dictionary):
    command = vmsg.Message(0x11).u8(48, 3)
    assert vmsg.missing_tags(dictionary, command) == [1]
    error = raised(vmsg.MissingTag, endpoint.check, command)
    assert error.detail == 1 and str(error) == "ErrMissingTag (detail 01): required tag 1 (device) is missing"
    error = raised(vmsg.MissingTag, endpoint.check, vmsg.Message(0x10))
    assert [(e.code, e.detail) for e in error.errors] == [(3, 1), (3, 2)]
    assert raised(vmsg.UnknownMessage, vmsg.missing_tags, dictionary, vmsg.Message(0x12)).detail == 0x12


def test_a_buffer_too_small_keeps_the_message_queued(endpoint):
    endpoint.send(vmsg.Message(0x10, tags=TELEMETRY))
    error = raised(vmsg.BufferTooSmall, endpoint.bytes_out, 33)
    assert error.detail == 34 and "needs a buffer of 34 bytes" in str(error)
    assert raised(vmsg.BufferTooSmall, endpoint.bytes_out, 0).detail == 34
    assert endpoint.ready() and endpoint.bytes_out(34) == TOUR_BLOCK


def test_a_message_too_large_for_a_block_is_refused_where_it_enters(endpoint):
    large = vmsg.Message(0x10, tags=[(49, "bytes", bytes(500))] * 3)
    error = raised(vmsg.LengthMismatch, endpoint.send, large)
    # 1514 bytes: more than a block holds, whatever the buffer.
    assert error.detail == 1514 and "a message of 1514 bytes fits no block (at most 1024)" in str(error)
    assert not endpoint.ready()
    # 65 tags of 1018 bytes: more than any 16-bit length.
    assert raised(vmsg.LengthMismatch, endpoint.send, vmsg.Message(0x10, tags=[(49, "bytes", bytes(1018))] * 65)).detail == 65535
    # The largest message that fits goes out whole.
    endpoint.send(vmsg.Message(0x10, tags=[(49, "bytes", bytes(1018))]))
    assert len(endpoint.bytes_out()) == 1024


def test_blocks_without_a_message_fail_to_parse(endpoint):
    for block, stop in ((b"", vmsg.Stop.SHORT_BLOCK), (b"\x10", vmsg.Stop.SHORT_BLOCK), (bytes(1025), vmsg.Stop.TOO_LONG),
                        (bytes(65536), vmsg.Stop.TOO_LONG)):
        error = raised(vmsg.ParseFailed, endpoint.bytes_in, block)
        assert isinstance(error, ValueError) and error.detail is None and "the block yields no message" in str(error)
        assert (error.stop, error.stop_offset) == (stop, 0)
    assert endpoint.get_message() is None


def test_a_damaged_block_is_refused_with_where_and_why(endpoint):
    error = raised(vmsg.ParseFailed, endpoint.bytes_in, TOUR_BLOCK[:-2])
    assert (error.stop, error.stop_offset) == (vmsg.Stop.LENGTH_BEYOND_BLOCK, 26)
    assert "length-beyond-block at offset 26" in str(error)
    assert endpoint.get_message() is None


def test_an_endpoint_that_accepts_damage_takes_it_up_to_the_damage(dictionary):
    endpoint = vmsg.Endpoint(dictionary, accept_damaged=True)
    endpoint.bytes_in(TOUR_BLOCK[:-2])
    received = endpoint.get_message()
    assert received.tags == TELEMETRY[:3]
    assert (received.stop, received.stop_offset) == (vmsg.Stop.LENGTH_BEYOND_BLOCK, 26)


def test_the_queues_hold_at_most_max_queued_messages(dictionary):
    endpoint = vmsg.Endpoint(dictionary, max_queued=1, max_block=2000)
    endpoint.bytes_in(TOUR_BLOCK)
    raised(vmsg.QueueFull, endpoint.bytes_in, TOUR_BLOCK)
    assert endpoint.get_message() is not None and endpoint.get_message() is None
    endpoint.send(vmsg.Message(0x10))
    error = raised(vmsg.QueueFull, endpoint.send, vmsg.Message(0x10))
    assert error.code == 12 and error.name == "ErrQueueFull"
    with pytest.raises(TypeError):
        vmsg.Endpoint(dictionary, True)  # the options are keywords
    with pytest.raises(ValueError, match="max_queued"):
        vmsg.Endpoint(dictionary, max_queued=-1)


def test_a_structure_of_more_tags_than_the_count_holds_is_refused(dictionary):
    # The count stops at 65535; the view copies every tag.
    message = vmsg.Message(0x10, tags=[(3, "null")] * 65536)
    assert message.tag_count == 65535 and len(message) == 65536
    error = raised(vmsg.TagCountMismatch, vmsg.structure, dictionary, message)
    assert error.detail == 1 and "copies minus tag count is 1" in str(error)
