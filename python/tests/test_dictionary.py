"""Dictionaries by the tool's checker, and the structured view and required
tags compared with `vmsg decode --dict`."""

import pytest

import vmsg
from conftest import DICTIONARIES, DICTIONARY

TELEMETRY_BLOCK = vmsg.Message(0x10, tags=[
    (1, "u32", 42), (2, "str", "pump-7"), (3, "u32", 3600), (32, "u8", 0), (33, "f32", 21.5), (34, "str", "C"),
    (32, "u8", 1), (33, "f32", 1013.25), (35, "u16", 258)]).encode()


@pytest.mark.parametrize("path", sorted((DICTIONARIES / "bad").glob("*.json")), ids=lambda p: p.name)
def test_bad_dictionaries_list_the_problems_vmsg_dict_check_prints(tool, path):
    printed = tool.run("dict", "check", path, check=False)
    # A file that is not JSON ('-' in expected.txt) is malformed (2);
    # problems in JSON give 1.
    first_problem = dict(line.split(maxsplit=1) for line in (DICTIONARIES / "bad" / "expected.txt").read_text()
                         .splitlines() if line and not line.startswith("#"))
    assert printed.returncode == (2 if first_problem[path.name].strip() == "-" else 1)
    with pytest.raises(vmsg.DictionaryError) as refusal:
        vmsg.Dictionary.load(path)
    assert refusal.value.problems == printed.stdout.decode().splitlines()
    assert str(refusal.value) == printed.stdout.decode().rstrip("\n") and refusal.value.source == str(path)


@pytest.mark.parametrize("path", sorted((DICTIONARIES / "good").glob("*.json")), ids=lambda p: p.name)
def test_good_dictionaries_load_with_the_counts_of_vmsg_dict_check(tool, path):
    printed = tool.run("dict", "check", path).stdout.decode().strip()
    counts = printed.split(": ok: ")[1]
    assert repr(vmsg.Dictionary.load(path)) == f"<vmsg.Dictionary {path}: {counts}>"
    text = path.read_text()
    assert repr(vmsg.Dictionary.from_json(text, str(path))) == repr(vmsg.Dictionary.from_json(text.encode(), str(path)))


def test_the_entries_are_those_of_the_file(dictionary):
    assert dictionary.message("telemetry") == (16, "telemetry", (1, 2)) == dictionary.message(16)
    assert dictionary.tag("reading") == (33, "reading", "f32") and dictionary.tag(99) is None
    assert dictionary.meta == [(32, "sensor", "u8", "Sensor")]
    assert [t.name for t in dictionary.tags][:3] == ["device", "name", "uptime"] and len(dictionary.messages) == 2


def test_the_structured_view_is_the_one_vmsg_decode_shows(tool, dictionary):
    shown = tool.decode_json([TELEMETRY_BLOCK], "--dict", DICTIONARY)[0]["structured"]
    view = vmsg.structure(dictionary, vmsg.decode(TELEMETRY_BLOCK))
    assert view.id == 0x10 and [(t.id, t.value) for t in view.tags] == [(t["id"], t["value"]) for t in shown["tags"]]
    assert [(o.id, o.name, o.meta.value) for o in view.objects] == \
        [(o["id"], o["object"], o["meta"]["value"]) for o in shown["objects"]]
    assert [[(t.id, t.type) for t in o.tags] for o in view.objects] == \
        [[(t["id"], t["type"]) for t in o["tags"]] for o in shown["objects"]]
    text = tool.run("decode", "--dict", DICTIONARY, "-", input=TELEMETRY_BLOCK.hex(" ").encode()).stdout.decode()
    tool_lines = text.split("  structured view: ")[1].splitlines()[1:]
    assert [line[2:] for line in repr(view).splitlines()[1:]] == [line[4:] for line in tool_lines]
    assert repr(view).splitlines()[0] == "structured message 0x10: 3 plain tags, 2 objects"


def test_a_report_with_the_dictionary_is_what_vmsg_decode_dict_prints(tool, dictionary):
    blocks = [TELEMETRY_BLOCK, vmsg.Message(0x11).u8(48, 3).encode(), vmsg.Message(0x7F).u8(5, 7).encode()]
    for block in blocks:
        text = tool.run("decode", "--dict", DICTIONARY, "-", input=block.hex(" ").encode(), check=False).stdout
        assert vmsg.decode(block).report(dictionary) == text.decode().split("\n", 1)[1].rstrip("\n")
