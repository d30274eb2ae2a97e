"""Shared helpers of the module's tests: the C++ tool of the same build tree,
which every test compares the module with, and the demo's dictionary."""

import json
import os
import pathlib
import subprocess

import pytest

import vmsg

SOURCE_DIR = pathlib.Path(os.environ.get("VMSG_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
DICTIONARY = SOURCE_DIR / "examples" / "dictionary.json"
DICTIONARIES = SOURCE_DIR / "tools" / "vmsg" / "tests" / "dictionaries"


class Tool:
    """Runs `vmsg` (VMSG_TOOL) and hands back what it printed."""

    def __init__(self, path):
        self.path = path

    def run(self, *args, input=None, check=True):
        args = [arg if isinstance(arg, bytes) else str(arg) for arg in args]
        result = subprocess.run([self.path, *args], input=input, capture_output=True)
        if check and result.returncode != 0:
            raise AssertionError(f"vmsg {args}: exit {result.returncode}: "
                                 f"{result.stderr.decode(errors='replace')}")
        return result

    def encode(self, msg_id, flags, arguments):
        out = self.run("encode", "--id", msg_id, "--flags", flags, "--raw", *arguments).stdout
        return bytes(out)

    def blocks(self, *args, blocks):
        """A command over hex blocks, one a line; its output blocks."""
        text = "".join(block.hex(" ") + "\n" for block in blocks).encode()
        out = self.run(*args, "-", input=text).stdout.decode()
        return [bytes.fromhex(line) for line in out.splitlines()]

    def decode_json(self, blocks, *options):
        text = "".join(block.hex(" ") + "\n" for block in blocks).encode()
        result = self.run("decode", "--json", *options, "-", input=text, check=False)
        assert result.returncode in (0, 1), result.stderr
        return json.loads(result.stdout)["blocks"]


@pytest.fixture(scope="session")
def tool():
    path = os.environ.get("VMSG_TOOL")
    if not path:
        pytest.skip("VMSG_TOOL (the vmsg tool of the build tree) is not set")
    return Tool(path)


@pytest.fixture(scope="session")
def dictionary():
    return vmsg.Dictionary.load(DICTIONARY)


def tool_argument(tag):
    """The `vmsg encode` argument of a vmsg.Tag."""
    if tag.type == "null":
        return f"null:{tag.id}"
    if tag.type == "bytes":
        return f"bytes:{tag.id}={tag.value.hex()}"
    if tag.type == "f32":
        return f"f32:{tag.id}={tag.value!r}"
    return f"{tag.type}:{tag.id}={tag.value}"
