#include "parts.h"

#include "arguments.h"

#include <VFrame.h>

#include <pybind11/eval.h>

#include <deque>
#include <string>

namespace vmsgpy {

namespace {

// The class vmsg.Framing, kept for the life of the interpreter.
PyObject* gFraming = nullptr;

const char* shortName(vmsg::Framing framing)
{
    return framing == vmsg::Framing::Cobs ? "cobs" : "lp";
}

// A vmsg.Framing member, or its short name "lp" or "cobs" (as the tool's
// --framing takes it).
vmsg::Framing framingArgument(py::handle value, const Where& where)
{
    if (PyUnicode_Check(value.ptr())) {
        const std::string name = utf8(value);
        if (name == "lp")
            return vmsg::Framing::LengthPrefix;
        if (name == "cobs")
            return vmsg::Framing::Cobs;
        valueError(where, "unknown framing " + shown(value) + " (expected 'lp' or 'cobs')");
    }
    if (!py::isinstance(value, py::handle(gFraming)))
        typeError(where, "a vmsg.Framing or 'lp' or 'cobs'", value);
    return value.cast<int>() == 1 ? vmsg::Framing::Cobs : vmsg::Framing::LengthPrefix;
}

py::bytes frameBlock(py::handle block, py::handle framingValue)
{
    const vmsg::Framing framing = framingArgument(framingValue, "frame(): framing");
    const Bytes bytes(block, "frame(): block");
    if (bytes.size() < vmsg::kMinFramedBlock || bytes.size() > vmsg::kMaxFramedBlock)
        valueError("frame(): block", "block of " + std::to_string(bytes.size()) +
                                         " bytes; a framed block has 2 to 65535 bytes");
    std::string out(vmsg::maxFramedSize(framing, bytes.size()), '\0');
    out.resize(vmsg::frame(framing, bytes.data(), bytes.size(), out.data(), out.size()));
    return py::bytes(out);
}

// The reader takes every byte it is fed: the blocks it completes on the way
// are copied out into bytes objects, queued until iterated.
class FrameReader {
public:
    explicit FrameReader(py::handle framing) : mReader(framingArgument(framing, "FrameReader(): framing")) {}

    void feed(py::handle data)
    {
        const Bytes bytes(data, "FrameReader.feed(): data");
        mReader.feedAll(bytes.data(), bytes.size(), [this](const unsigned char* block, std::size_t length) {
            mBlocks.emplace_back(reinterpret_cast<const char*>(block), length);
        });
    }

    py::bytes next()
    {
        if (mBlocks.empty())
            throw py::stop_iteration();
        py::bytes block = std::move(mBlocks.front());
        mBlocks.pop_front();
        return block;
    }

    py::object framing() const { return py::handle(gFraming)(mReader.framing() == vmsg::Framing::Cobs ? 1 : 0); }
    std::uint64_t dropped() const { return mReader.dropped(); }
    std::size_t buffered() const { return mReader.buffered(); }
    std::size_t pending() const { return mBlocks.size(); }

    void reset()
    {
        mReader.reset();
        mBlocks.clear();
    }

private:
    vmsg::FrameReader mReader;
    std::deque<py::bytes> mBlocks;
};

void defineFramingEnum(py::module_& module)
{
    py::list members;
    members.append(py::make_tuple("LENGTH_PREFIX", 0));
    members.append(py::make_tuple("COBS", 1));
    py::object framing =
        py::module_::import("enum").attr("IntEnum")("Framing", members, py::arg("module") = "vmsg");
    framing.attr("__doc__") = "How blocks are framed on a byte stream (vmsg::Framing): LENGTH_PREFIX, a 2-byte "
                              "big-endian length then the block; COBS, the block COBS-encoded then a 0x00.";
    // str() gives the short name the tool takes, "lp" or "cobs".
    framing.attr("__str__") = py::cpp_function(
        [](py::handle member) { return shortName(member.cast<int>() == 1 ? vmsg::Framing::Cobs
                                                                        : vmsg::Framing::LengthPrefix); },
        py::is_method(framing));
    module.attr("Framing") = framing;
    gFraming = framing.release().ptr();
}

// The asyncio helpers are plain Python: they await the stream, and the
// reader does the work.
constexpr const char* kAsyncHelpers = R"(
async def read_blocks(stream, framing, chunk_size=65536):
    """Reads a framed stream (an asyncio.StreamReader, or any object with an
    async read(n) that returns b"" at the end) and yields each block, as
    bytes, until the stream ends. Bytes that cannot make a block are
    dropped, as vmsg.FrameReader drops them; a frame cut by the end of the
    stream is not yielded."""
    reader = FrameReader(framing)
    while True:
        data = await stream.read(chunk_size)
        if not data:
            return
        reader.feed(data)
        for block in reader:
            yield block


async def read_messages(stream, framing, chunk_size=65536):
    """Like read_blocks, yielding each block decoded with vmsg.decode: a
    vmsg.Message whose stop says whether the whole block was read."""
    async for block in read_blocks(stream, framing, chunk_size):
        yield decode(block)
)";

} // namespace

void defineFraming(py::module_& module)
{
    defineFramingEnum(module);
    module.attr("MAX_FRAMED_BLOCK") = vmsg::kMaxFramedBlock;
    module.def("frame", &frameBlock, py::arg("block"), py::arg("framing"),
               "The block (bytes-like, 2 to 65535 bytes) framed for a byte stream: framing is a vmsg.Framing or "
               "'lp' or 'cobs'. ValueError for a block of another size.");
    module.def(
        "max_framed_size",
        [](std::size_t length, py::handle framing) {
            return vmsg::maxFramedSize(framingArgument(framing, "max_framed_size(): framing"), length);
        },
        py::arg("length"), py::arg("framing"), "The most bytes frame() gives for a block of this many bytes.");

    py::class_<FrameReader> cls(module, "FrameReader",
                                "Takes a framed stream in chunks of any size (feed) and gives its blocks as bytes, "
                                "in order, when iterated (vmsg::FrameReader).");
    cls.def(py::init<py::handle>(), py::arg("framing"), "A reader for a stream framed with framing (a "
                                                        "vmsg.Framing or 'lp' or 'cobs').");
    cls.def("feed", &FrameReader::feed, py::arg("data"),
            "Takes every byte of data (bytes-like); the blocks they complete wait for the iteration.");
    cls.def("__iter__", [](py::object self) { return self; });
    cls.def("__next__", &FrameReader::next, "The next complete block, as bytes.");
    cls.def("reset", &FrameReader::reset,
            "Back to the start of a stream: forgets the frame in progress, the blocks not yet taken and the "
            "dropped count.");
    cls.def_property_readonly("framing", &FrameReader::framing, "The framing, a vmsg.Framing.");
    cls.def_property_readonly("dropped", &FrameReader::dropped,
                              "The bytes thrown away while getting back on track: frames that cannot hold a "
                              "block (docs/framing.md).");
    cls.def_property_readonly("buffered", &FrameReader::buffered,
                              "The block bytes held of the frame in progress (at most MAX_FRAMED_BLOCK).");
    cls.def_property_readonly("pending", &FrameReader::pending, "The complete blocks not yet iterated.");

    py::exec(kAsyncHelpers, module.attr("__dict__"));
}

} // namespace vmsgpy
