#include "message.h"

#include "arguments.h"
#include "dictionary.h"
#include "errors.h"
#include "values.h"

#include <VFormat.h>
#include <format/Segments.h>
#include <format/Text.h>

#include <algorithm>
#include <array>
#include <stdexcept>
#include <cctype>
#include <cstring>
#include <iterator>

namespace vmsgpy {

namespace {

// The members of vmsg.Stop, by the value of vmsg::Stop; kept for the life
// of the interpreter.
constexpr int kStopCount = static_cast<int>(vmsg::Stop::TooLong) + 1;
std::array<PyObject*, kStopCount> gStops{};

// The int 0, the default flags byte.
PyObject* gZero = nullptr;

// A message as large as the parser reads: its length is 16-bit.
constexpr std::size_t kMaxParsed = 65535;

std::string hex2(unsigned value)
{
    return vmsg::detail::hexNumber(value, 2);
}

// The payload the tags need, counted wide: the message's own count stops
// at 65535.
std::size_t payloadOf(const VMsg& msg)
{
    std::size_t payload = 0;
    for (const VTag& tag : vmsg::tags(msg))
        payload += vmsg::kTagHeaderSize + tag.mLength;
    return payload;
}

[[noreturn]] void tooLarge(const VMsg& msg, const Where& where)
{
    valueError(where, "message " + hex2(msg.mId) + ": the tags need " + std::to_string(payloadOf(msg)) +
                          " payload bytes; a block carries at most " + std::to_string(vmsg::kMaxMessagePayload) +
                          " (segment() splits the message into blocks)");
}

py::bytes blockBytes(const unsigned char* data, std::size_t size)
{
    return py::bytes(reinterpret_cast<const char*>(data), size);
}

std::optional<py::bytes> writeBlock(VMsg& msg)
{
    unsigned char block[vmsg::kMaxBlock];
    const unsigned short written = msg.getMsg(block, sizeof block);
    if (written == 0)
        return std::nullopt;
    return blockBytes(block, written);
}

py::bytes encode(Message& message)
{
    std::optional<py::bytes> block = message.block();
    if (!block)
        tooLarge(message.msg(), "Message.encode()");
    return *block;
}

// The block a message stands for: the one it was parsed from, or its
// encoding; none for a message too large for one block.
std::optional<py::bytes> blockOf(Message& message)
{
    if (message.origin())
        return message.origin()->block;
    return message.block();
}

std::string describe(Message& message)
{
    if (std::optional<py::bytes> block = blockOf(message))
        return reportText(*block, nullptr);
    // Too large for one block: the library sums it up.
    std::string text = vmsg::format(message.msg());
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

// Appends one tag of the type @p type from a Python value, in its wire
// encoding. The value is checked before the message is touched, so that a
// refused tag leaves the message as it was (its origin included).
void addTag(Message& message, unsigned char tagId, const vmsg::TypeInfo& type, py::handle value,
            const Where& where)
{
    const Where valueWhere = where.with("value");
    unsigned char number[4];
    switch (type.code) {
    case VTag::TagNull:
        if (!value.is_none())
            valueError(valueWhere, "a null tag takes no value (None), found " + shown(value));
        message.add(tagId, VTag::TagNull, nullptr, 0);
        return;
    case VTag::TagUInt8:
        number[0] = static_cast<unsigned char>(quickUnsigned(value, 0, 0xFF, valueWhere));
        message.add(tagId, VTag::TagUInt8, number, 1);
        return;
    case VTag::TagUInt16:
        vmsg::storeBE16(number, static_cast<std::uint16_t>(quickUnsigned(value, 0, 0xFFFF, valueWhere)));
        message.add(tagId, VTag::TagUInt16, number, 2);
        return;
    case VTag::TagUInt32:
        vmsg::storeBE32(number, static_cast<std::uint32_t>(quickUnsigned(value, 0, 0xFFFFFFFFul, valueWhere)));
        message.add(tagId, VTag::TagUInt32, number, 4);
        return;
    case VTag::TagFloat:
        vmsg::storeBE32(number, vmsg::bitsOfFloat(floatArgument(value, valueWhere)));
        message.add(tagId, VTag::TagFloat, number, 4);
        return;
    case VTag::TagString: {
        std::string storage;
        const std::string_view text = textArgument(value, valueWhere, storage);
        // The characters and their NUL, as VTagString holds them.
        unsigned char payload[vmsg::kMaxPayload];
        std::memcpy(payload, text.data(), text.size());
        payload[text.size()] = 0;
        message.add(tagId, VTag::TagString, payload, text.size() + 1);
        return;
    }
    case VTag::TagBytes: {
        const Bytes bytes(value, valueWhere);
        if (bytes.size() > vmsg::kMaxPayload)
            valueError(valueWhere, std::to_string(bytes.size()) + " bytes; a bytes tag holds at most " +
                                       std::to_string(vmsg::kMaxPayload));
        message.add(tagId, VTag::TagBytes, bytes.data(), bytes.size());
        return;
    }
    }
}

// Appends the tag of one item of Message(tags=...): (tag_id, type, value),
// or (tag_id, type) for a null tag.
void addItem(Message& message, py::handle item, const Where& where)
{
    if (!PyTuple_Check(item.ptr()) && !PyList_Check(item.ptr()))
        typeError(where, "a tuple (tag_id, type, value)", item);
    // A tuple's fields are read in place, as the tuple holds them; a
    // list's are held, as checking one (an __index__) may change the list.
    const bool tuple = PyTuple_Check(item.ptr());
    const std::size_t size = static_cast<std::size_t>(Py_SIZE(item.ptr()));
    if (size != 2 && size != 3)
        valueError(where, "expected (tag_id, type, value) or (tag_id, \"null\"), found " + shown(item));
    py::handle fields[3];
    py::object held[3];
    for (std::size_t i = 0; i < size; ++i) {
        if (tuple) {
            fields[i] = PyTuple_GET_ITEM(item.ptr(), i);
        } else {
            held[i] = py::reinterpret_borrow<py::object>(PyList_GET_ITEM(item.ptr(), i));
            fields[i] = held[i];
        }
    }
    const unsigned char tagId = byteArgument(fields[0], where.with("tag_id"));
    const vmsg::TypeInfo& type = typeArgument(fields[1], where.with("type"));
    if (size == 2 && type.code != VTag::TagNull)
        valueError(where, std::string("a ") + type.name + " tag needs a value: (tag_id, \"" + type.name +
                              "\", value); only a null tag may leave it out");
    addTag(message, tagId, type, size == 3 ? py::handle(fields[2]) : py::handle(Py_None), where);
}

bool sameTags(const VMsg& a, const VMsg& b)
{
    const VTag* x = a.mFirstTag;
    const VTag* y = b.mFirstTag;
    for (; x && y; x = x->mNext, y = y->mNext) {
        if (x->mId != y->mId || x->mType != y->mType || x->mLength != y->mLength)
            return false;
        if (x->mLength && std::memcmp(x->mData, y->mData, x->mLength) != 0)
            return false;
    }
    return !x && !y;
}

// The tag id of a key of Message[...], get and values; none when the int
// is no byte.
std::optional<unsigned char> tagKey(py::handle key, const char* where)
{
    if (!PyIndex_Check(key.ptr()))
        typeError(where, "a tag id (an int from 0 to 255)", key);
    const long long value = PyLong_AsLongLong(py::reinterpret_steal<py::object>(PyNumber_Index(key.ptr())).ptr());
    if (value == -1 && PyErr_Occurred())
        PyErr_Clear(); // beyond 64 bits
    else if (value >= 0 && value <= 255)
        return static_cast<unsigned char>(value);
    return std::nullopt;
}

const VTag* findTag(Message& message, py::handle key, const char* where)
{
    const std::optional<unsigned char> id = tagKey(key, where);
    return id ? vmsg::findTag(message.msg(), *id) : nullptr;
}

// Message(id, flags=0, tags=())
// pybind11's record of vmsg.Message, looked up once: cast() looks it up by
// name per call.
py::detail::type_info* messageType()
{
    static py::detail::type_info* const type = py::detail::get_type_info(typeid(Message), true);
    return type;
}

// Gives @p message to the instance @p self of vmsg.Message (or of a
// subclass made in Python), whose layout pybind11 has set up: the value and
// its holder, as pybind11's init_instance sets them, but without entering
// the instance in pybind11's registry of C++ addresses. That registry is
// only read to hand an existing C++ object back to Python by address, which
// no call does for a message, and an insert and an erase in it cost as much
// as the rest of a decode. pybind11 deregisters at deallocation only an
// instance marked as registered.
void adopt(PyObject* self, std::unique_ptr<Message> message)
{
    auto* instance = reinterpret_cast<py::detail::instance*>(self);
    py::detail::value_and_holder holder = instance->get_value_and_holder(messageType());
    holder.value_ptr() = message.get();
    new (std::addressof(holder.holder<std::unique_ptr<Message>>())) std::unique_ptr<Message>(std::move(message));
    holder.set_holder_constructed();
}

// Whether an instance of vmsg.Message itself has pybind11's simple layout
// (one value pointer and the holder in the instance) and no memory beyond
// pybind11's instance: then a new one needs no look-up of the type's bases
// to be set up, and a spare is made new by setting those fields.
bool simpleMessageLayout()
{
    static const bool simple =
        py::detail::all_type_info(messageType()->type).size() == 1 &&
        messageType()->holder_size_in_ptrs <= py::detail::instance_simple_holder_in_ptrs() &&
        messageType()->type->tp_basicsize == static_cast<Py_ssize_t>(sizeof(py::detail::instance));
    return simple;
}

// pybind11's deallocator of its instances, for the messages messageDealloc
// leaves to it.
destructor gInstanceDealloc = nullptr;

// Instances of vmsg.Message whose last reference went, kept for the next
// ones (a capture replay decodes a message per block and drops it again).
// Each keeps its memory and its type's reference; its fields are set anew.
constexpr std::size_t kSpareMessages = 64;
std::array<PyObject*, kSpareMessages> gSpareMessages{};
std::size_t gSpareMessageCount = 0;

// vmsg.Message's deallocator: for an instance of the class itself in the
// simple layout, with nothing pybind11 keeps about it elsewhere (no entry
// in the registry, no objects kept alive with it, no weak references), the
// steps of pybind11's own: the Message deleted with any Python error kept
// aside, then the memory freed. Everything else goes to pybind11's.
void messageDealloc(PyObject* self)
{
    auto* instance = reinterpret_cast<py::detail::instance*>(self);
    PyTypeObject* type = Py_TYPE(self);
    if (type != messageType()->type || !instance->simple_layout || instance->simple_instance_registered ||
        instance->has_patients || instance->weakrefs) {
        gInstanceDealloc(self);
        return;
    }
    if (instance->simple_holder_constructed) {
        auto& holder = *reinterpret_cast<std::unique_ptr<Message>*>(&instance->simple_value_holder[1]);
        if (PyErr_Occurred()) {
            const py::error_scope keep; // the destructor may run Python code
            holder.~unique_ptr<Message>();
        } else {
            holder.~unique_ptr<Message>();
        }
        instance->simple_holder_constructed = false;
    } else if (instance->simple_value_holder[0]) {
        py::detail::call_operator_delete(static_cast<Message*>(instance->simple_value_holder[0]),
                                         messageType()->type_size, messageType()->type_align);
    }
    if (gSpareMessageCount < kSpareMessages && simpleMessageLayout() && !PyType_IS_GC(type)) {
        gSpareMessages[gSpareMessageCount++] = self;
        return;
    }
    type->tp_free(self);
    Py_DECREF(type);
}

// The fields after the object header of a new vmsg.Message in the simple
// layout: zero, as tp_alloc leaves them, but for the two flags that
// allocate_layout sets. Copied in one go: setting the flags bit by bit
// right after zeroing the memory would read back a byte still on its way.
const py::detail::instance& freshInstance()
{
    static const py::detail::instance fresh = [] {
        py::detail::instance fields;
        std::memset(static_cast<void*>(&fields), 0, sizeof fields);
        fields.owned = true;
        fields.simple_layout = true;
        return fields;
    }();
    return fresh;
}

// A new vmsg.Message holding @p message.
py::object newMessageObject(std::unique_ptr<Message> message)
{
    PyTypeObject* type = messageType()->type;
    PyObject* self = nullptr;
    if (gSpareMessageCount) {
        // A spare (kept only in the simple layout) has its type and the
        // reference to it.
        self = gSpareMessages[--gSpareMessageCount];
        _Py_NewReference(self);
    } else {
        self = type->tp_alloc(type, 0);
        if (!self)
            throw py::error_already_set();
    }
    py::object out = py::reinterpret_steal<py::object>(self);
    if (simpleMessageLayout()) {
        constexpr std::size_t header = sizeof(PyObject);
        std::memcpy(reinterpret_cast<char*>(self) + header, reinterpret_cast<const char*>(&freshInstance()) + header,
                    sizeof(py::detail::instance) - header);
    } else {
        reinterpret_cast<py::detail::instance*>(self)->allocate_layout();
    }
    adopt(self, std::move(message));
    return out;
}

std::unique_ptr<Message> makeMessage(py::handle id, py::handle flags, py::handle tags)
{
    auto message = std::make_unique<Message>(byteArgument(id, "Message(): id"), byteArgument(flags, "Message(): flags"));
    if (PyList_CheckExact(tags.ptr()) || PyTuple_CheckExact(tags.ptr())) {
        // Walked by index: a list may change while its items are checked.
        const py::object held = py::reinterpret_borrow<py::object>(tags);
        const bool list = PyList_CheckExact(tags.ptr());
        for (Py_ssize_t i = 0; i < Py_SIZE(tags.ptr()); ++i) {
            const py::object item = py::reinterpret_borrow<py::object>(list ? PyList_GET_ITEM(tags.ptr(), i)
                                                                            : PyTuple_GET_ITEM(tags.ptr(), i));
            addItem(*message, item, Where("Message()", "tags", static_cast<std::size_t>(i)));
        }
        return message;
    }
    if (PyUnicode_Check(tags.ptr()) || PyObject_CheckBuffer(tags.ptr()) || !PyObject_HasAttrString(tags.ptr(), "__iter__"))
        typeError("Message(): tags", "an iterable of (tag_id, type, value) items", tags);
    std::size_t index = 0;
    for (py::handle item : tags)
        addItem(*message, item, Where("Message()", "tags", index++));
    return message;
}

py::object decode(py::handle data)
{
    const Bytes bytes(data, "decode(): data");
    if (bytes.size() < vmsg::kMessageHeaderSize || bytes.size() > kMaxParsed)
        raiseCode(ErrParseFailed, parseFailure(bytes.size()));
    // The message is parsed, and the walk for its stop made, when something
    // needs them; its tags are read from the block it keeps.
    Origin origin{vmsg::Stop::End, 0, bytes.keep(), false};
    return newMessageObject(std::make_unique<Message>(std::move(origin)));
}

int frameArgument(py::handle frame, const Where& where)
{
    return static_cast<int>(unsignedArgument(frame, 1, 65535, where));
}

py::list segmentsOf(Message& message, py::handle frame)
{
    const int size = frameArgument(frame, "Message.segment(): frame");
    // segmentMessage moves the tags into the segments: take apart a copy.
    std::unique_ptr<VMsg> copy = cloneMessage(message.msg());
    copy->segmentMessage(size);
    py::list out;
    copy->resetSegment();
    while (VMsg* segment = copy->getNextSegment()) {
        std::optional<py::bytes> block = writeBlock(*segment);
        if (!block)
            tooLarge(*segment, "Message.segment()");
        out.append(*block);
    }
    return out;
}

vmsg::detail::Block toolBlock(const Bytes& bytes, const Where& where, const std::string& name)
{
    if (bytes.size() > kMaxParsed)
        valueError(where, "block of " + std::to_string(bytes.size()) + " bytes; the parser takes at most " +
                              std::to_string(kMaxParsed));
    return {{bytes.data(), bytes.data() + bytes.size()}, name};
}

py::list blockList(const std::vector<std::vector<unsigned char>>& blocks)
{
    py::list out;
    for (const std::vector<unsigned char>& block : blocks)
        out.append(blockBytes(block.data(), block.size()));
    return out;
}

// segment(block, frame): `vmsg segment --frame N` on one block.
py::list segmentBlock(py::handle block, py::handle frame)
{
    const Bytes bytes(block, "segment(): block");
    const int size = frameArgument(frame, "segment(): frame");
    const vmsg::detail::Block input = toolBlock(bytes, "segment(): block", "block");
    try {
        return blockList(vmsg::detail::segmentBlock(input, size));
    } catch (const vmsg::detail::BlockError& error) {
        valueError("segment()", error.what());
    }
}

// join(segments): `vmsg join` on the segments, in order.
py::list join(py::handle segments)
{
    if (PyObject_CheckBuffer(segments.ptr()) || PyUnicode_Check(segments.ptr()) ||
        !PyObject_HasAttrString(segments.ptr(), "__iter__"))
        typeError("join(): segments", "an iterable of blocks (bytes)", segments);
    std::vector<vmsg::detail::Block> blocks;
    for (py::handle item : segments) {
        const Where where("join()", "segments", blocks.size());
        const Bytes bytes(item, where);
        blocks.push_back(toolBlock(bytes, where, "segment " + std::to_string(blocks.size() + 1)));
    }
    try {
        return blockList(vmsg::detail::joinBlocks(blocks));
    } catch (const vmsg::detail::BlockError& error) {
        valueError("join()", error.what());
    }
}

// Runs @p body, which gives a new reference, for a function or method that
// the interpreter calls without pybind11's dispatcher in between (on the
// paths a capture replay runs per message); a C++ exception becomes the
// Python error pybind11 would raise for it.
template <typename Body>
PyObject* guarded(Body&& body) noexcept
{
    try {
        try {
            return body();
        } catch (py::error_already_set& error) {
            error.restore();
        } catch (...) {
            if (!py::detail::apply_exception_translators(
                    py::detail::get_local_internals().registered_exception_translators) &&
                !py::detail::apply_exception_translators(py::detail::get_internals().registered_exception_translators))
                PyErr_SetString(PyExc_SystemError, "vmsg: unexpected C++ exception");
        }
    } catch (...) {
        // A translator that throws itself: the interpreter still gets an error.
        PyErr_SetString(PyExc_SystemError, "vmsg: unexpected C++ exception while raising an error");
    }
    return nullptr;
}

// The Message of an instance of vmsg.Message, the type the descriptor
// checked; a subclass made in Python keeps pybind11's simple layout.
Message& messageOf(PyObject* self)
{
    auto* instance = reinterpret_cast<py::detail::instance*>(self);
    if (instance->simple_layout && instance->simple_holder_constructed)
        return *static_cast<Message*>(instance->simple_value_holder[0]);
    return py::handle(self).cast<Message&>();
}

// decode(data), called with the vector convention; data may be named.
PyObject* decodeEntry(PyObject*, PyObject* const* args, Py_ssize_t count, PyObject* names) noexcept
{
    return guarded([&]() -> PyObject* {
        const Py_ssize_t named = names ? PyTuple_GET_SIZE(names) : 0;
        const Py_ssize_t given = PyVectorcall_NARGS(count);
        if (given + named != 1 ||
            (named == 1 && PyUnicode_CompareWithASCIIString(PyTuple_GET_ITEM(names, 0), "data") != 0)) {
            PyErr_Format(PyExc_TypeError, "decode() takes exactly one argument, data (%zd given)", given + named);
            return nullptr;
        }
        return decode(args[0]).release().ptr();
    });
}

// Message(id, flags=0, tags=()): what pybind11's constructor does (the
// value made, then its holder; see adopt), without its dispatcher. A
// second call leaves the message as it is, as pybind11 does.
PyObject* initEntry(PyObject* self, PyObject* const* args, Py_ssize_t count, PyObject* names) noexcept
{
    return guarded([&]() -> PyObject* {
        static const char* const kNames[] = {"id", "flags", "tags"};
        PyObject* given[3] = {nullptr, nullptr, nullptr};
        const Py_ssize_t positional = PyVectorcall_NARGS(count);
        if (positional > 3) {
            PyErr_Format(PyExc_TypeError, "Message() takes at most 3 arguments (id, flags, tags), %zd given",
                         positional);
            return nullptr;
        }
        for (Py_ssize_t i = 0; i < positional; ++i)
            given[i] = args[i];
        const Py_ssize_t named = names ? PyTuple_GET_SIZE(names) : 0;
        for (Py_ssize_t i = 0; i < named; ++i) {
            PyObject* name = PyTuple_GET_ITEM(names, i);
            std::size_t slot = 0;
            while (slot < 3 && PyUnicode_CompareWithASCIIString(name, kNames[slot]) != 0)
                ++slot;
            if (slot == 3 || given[slot]) {
                PyErr_Format(PyExc_TypeError, "Message(): %s argument %R", slot == 3 ? "unexpected" : "repeated",
                             name);
                return nullptr;
            }
            given[slot] = args[positional + i];
        }
        if (!given[0]) {
            PyErr_SetString(PyExc_TypeError, "Message() needs an id");
            return nullptr;
        }
        auto* instance = reinterpret_cast<py::detail::instance*>(self);
        if (instance->get_value_and_holder(messageType()).holder_constructed())
            Py_RETURN_NONE;
        const py::object noTags = py::tuple();
        std::unique_ptr<Message> message = makeMessage(given[0], given[1] ? py::handle(given[1]) : py::handle(gZero),
                                                       given[2] ? py::handle(given[2]) : py::handle(noTags));
        // Reading the arguments runs Python code (an iterable of tags, an
        // __index__), which may have called __init__ on self already: the
        // message that call made stays, as for any second call.
        if (instance->get_value_and_holder(messageType()).holder_constructed())
            Py_RETURN_NONE;
        adopt(self, std::move(message));
        Py_RETURN_NONE;
    });
}

PyObject* tagsEntry(PyObject* self, void*) noexcept
{
    // cppcheck-suppress throwInNoexceptFunction ; guarded catches every exception of its body
    return guarded([&] { return messageOf(self).tags().release().ptr(); });
}

PyObject* encodeEntry(PyObject* self, PyObject*) noexcept
{
    // cppcheck-suppress throwInNoexceptFunction ; guarded catches every exception of its body
    return guarded([&] { return encode(messageOf(self)).release().ptr(); });
}

const char* const kDecodeDoc =
    "decode(data)\n--\n\n"
    "Parses a block (bytes-like) with the library's parser (VMsg::parseMsg): a Message with the tags read before "
    "any damage, and stop and stop_offset saying where and why the parse ended. ParseFailed for fewer than 2 "
    "bytes or more than 65535.";

PyGetSetDef gTagsDef{"tags", tagsEntry, nullptr, "The tags, a new list of vmsg.Tag (id, type, value).", nullptr};
PyMethodDef gEncodeDef{"encode", encodeEntry, METH_NOARGS, nullptr};
PyMethodDef gInitDef{"__init__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(initEntry)),
                     METH_FASTCALL | METH_KEYWORDS,
                     "__init__(self, id, flags=0, tags=())\n--\n\nA message of this id and flags byte with the tags "
                     "of the (tag_id, type, value) items, in order."};
PyMethodDef gDecodeDef{"decode", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(decodeEntry)),
                       METH_FASTCALL | METH_KEYWORDS, kDecodeDoc};

// Puts the descriptor @p descriptor (a new reference) on vmsg.Message.
void setDescriptor(py::class_<Message>& cls, const char* name, PyObject* descriptor)
{
    if (!descriptor)
        throw py::error_already_set();
    cls.attr(name) = py::reinterpret_steal<py::object>(descriptor);
}

void defineStop(py::module_& module)
{
    py::list members;
    for (int i = 0; i < kStopCount; ++i) {
        // "short-tag-header" becomes SHORT_TAG_HEADER.
        std::string name = vmsg::stopName(static_cast<vmsg::Stop>(i));
        for (char& c : name)
            c = c == '-' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        members.append(py::make_tuple(name, i));
    }
    py::object stop = py::module_::import("enum").attr("IntEnum")("Stop", members, py::arg("module") = "vmsg");
    stop.attr("__doc__") = "Why the walk over a block ended (vmsg::Stop): END when every byte after the header "
                           "was read as tags.";
    // str() gives the library's short name, "unknown-type" (an IntEnum
    // would give the number).
    stop.attr("__str__") = py::cpp_function(
        [](py::handle member) { return vmsg::stopName(static_cast<vmsg::Stop>(member.cast<int>())); },
        py::is_method(stop));
    module.attr("Stop") = stop;
    for (int i = 0; i < kStopCount; ++i)
        gStops[static_cast<std::size_t>(i)] = stop(i).release().ptr();
}

template <typename Class>
void defineBuilders(Class& cls)
{
    const auto tagged = [](const char* call, unsigned char code) {
        return [call, code](py::object self, py::handle tagId, py::handle value) {
            Message& message = self.cast<Message&>();
            addTag(message, byteArgument(tagId, Where(call, "tag_id")), *vmsg::typeInfo(code), value, Where(call));
            return self;
        };
    };
    cls.def(
        "null",
        [](py::object self, py::handle tagId) {
            Message& message = self.cast<Message&>();
            const unsigned char id = byteArgument(tagId, "Message.null(): tag_id");
            message.add(id, VTag::TagNull, nullptr, 0);
            return self;
        },
        py::arg("tag_id"), "Appends a null tag; returns the message.");
    cls.def("u8", tagged("Message.u8()", VTag::TagUInt8), py::arg("tag_id"), py::arg("value"),
            "Appends a u8 tag (0 to 255); returns the message.");
    cls.def("u16", tagged("Message.u16()", VTag::TagUInt16), py::arg("tag_id"), py::arg("value"),
            "Appends a u16 tag (0 to 65535); returns the message.");
    cls.def("u32", tagged("Message.u32()", VTag::TagUInt32), py::arg("tag_id"), py::arg("value"),
            "Appends a u32 tag (0 to 4294967295); returns the message.");
    cls.def("f32", tagged("Message.f32()", VTag::TagFloat), py::arg("tag_id"), py::arg("value"),
            "Appends an f32 tag (type code 6), the value rounded to single precision; returns the message.");
    cls.def("text", tagged("Message.text()", VTag::TagString), py::arg("tag_id"), py::arg("value"),
            vmsg::detail::withLimits("Appends a str tag: a str (written in UTF-8) or bytes, at most {max-text} bytes "
                                     "and no NUL; returns the message.")
                .c_str());
    cls.def("bytes", tagged("Message.bytes()", VTag::TagBytes), py::arg("tag_id"), py::arg("value"),
            vmsg::detail::withLimits("Appends a bytes tag of at most {max-bytes} bytes; returns the message.").c_str());
    cls.def(
        "add",
        [](py::object self, py::handle tagId, py::handle type, py::handle value) {
            Message& message = self.cast<Message&>();
            addTag(message, byteArgument(tagId, "Message.add(): tag_id"), typeArgument(type, "Message.add(): type"),
                   value, "Message.add()");
            return self;
        },
        py::arg("tag_id"), py::arg("type"), py::arg("value") = py::none(),
        "Appends a tag of the type named (\"u8\", ...) or of that code; returns the message.");
}

py::object originField(Message& message, bool stop)
{
    const Origin* origin = message.walkedOrigin();
    if (!origin)
        return py::none();
    return stop ? stopObject(origin->stop) : py::int_(origin->offset);
}

void defineAccess(py::class_<Message>& cls)
{
    cls.def("__len__", [](Message& m) {
        const vmsg::TagRange tags = vmsg::tags(m.msg());
        return static_cast<std::size_t>(std::distance(tags.begin(), tags.end()));
    });
    cls.def("__iter__", [](Message& m) { return py::iter(tagList(m.msg())); });
    cls.def(
        "__getitem__",
        [](Message& m, py::handle key) {
            const VTag* tag = findTag(m, key, "Message[]: tag_id");
            if (!tag) {
                PyErr_SetObject(PyExc_KeyError, key.ptr());
                throw py::error_already_set();
            }
            return tagValue(*tag);
        },
        "The value of the first tag with this id; KeyError when there is none.");
    cls.def("__contains__", [](Message& m, py::handle key) { return findTag(m, key, "in Message: tag_id") != nullptr; });
    cls.def(
        "get",
        [](Message& m, py::handle key, const py::object& fallback) {
            const VTag* tag = findTag(m, key, "Message.get(): tag_id");
            return tag ? tagValue(*tag) : fallback;
        },
        py::arg("tag_id"), py::arg("default") = py::none(),
        "The value of the first tag with this id, or default.");
    cls.def(
        "values",
        [](Message& m, py::handle key) {
            py::list out;
            const std::optional<unsigned char> id = tagKey(key, "Message.values(): tag_id");
            for (const VTag& tag : vmsg::tags(m.msg())) {
                if (id && tag.mId == *id)
                    out.append(tagValue(tag));
            }
            return out;
        },
        py::arg("tag_id"), "The values of every tag with this id, in order.");
}

void defineMessageClass(py::module_& module)
{
    py::class_<Message> cls(module, "Message",
                            "A message: an id, a flags byte and tags in order, held by the library (VMsg). Built "
                            "with Message(id, flags=0, tags=[(tag_id, type, value), ...]) and the chained "
                            "u8/u16/u32/f32/text/bytes/null/add calls, or made by decode() and "
                            "Endpoint.get_message().");
    cls.def(py::init(&makeMessage), py::arg("id"), py::arg("flags") = 0, py::arg("tags") = py::tuple());
    // Then replaced by the same constructor without the dispatcher: a
    // capture replay builds a message per block. (Defined through pybind11
    // first, so that the class is set up for a constructor.)
    setDescriptor(cls, "__init__", PyDescr_NewMethod(reinterpret_cast<PyTypeObject*>(cls.ptr()), &gInitDef));
    defineBuilders(cls);
    defineAccess(cls);
    cls.def_property(
        "id", [](Message& m) { return m.id(); },
        [](Message& m, py::handle id) {
            m.msg().mId = byteArgument(id, "Message.id");
            m.changed();
        },
        "The message id, 0 to 255.");
    cls.def_property(
        "flags", [](Message& m) { return m.flags(); },
        [](Message& m, py::handle flags) {
            m.msg().mFlags = byteArgument(flags, "Message.flags");
            m.changed();
        },
        "The flags byte; bit 7 (0x80) set means more segments follow.");
    cls.def_property_readonly(
        "more_segments", [](Message& m) { return !m.msg().isLastSegment(); }, "Whether flag 0x80 is set.");
    // .tags and encode() are called per message: plain descriptors, without
    // pybind11's dispatcher.
    auto* type = reinterpret_cast<PyTypeObject*>(cls.ptr());
    gInstanceDealloc = type->tp_dealloc;
    type->tp_dealloc = messageDealloc;
    setDescriptor(cls, "tags", PyDescr_NewGetSet(type, &gTagsDef));
    cls.def_property_readonly(
        "tag_count", [](Message& m) { return m.msg().mTagCount; },
        "The library's tag count (held at 65535, which stands for 65535 or more).");
    cls.def_property_readonly(
        "payload_length", [](Message& m) { return m.msg().mLength; },
        "The library's payload length: the tags' bytes on the wire (held at 65535).");
    cls.def_property_readonly(
        "stop", [](Message& m) { return originField(m, true); },
        "For a message parsed from a block and not changed since: why the parse ended (vmsg.Stop; END when "
        "every byte was read); otherwise None.");
    cls.def_property_readonly(
        "stop_offset", [](Message& m) { return originField(m, false); },
        "For a parsed message: the offset in the block where the parse stopped (the block's size at END); "
        "otherwise None.");
    // The doc lives as long as the type.
    static const std::string encodeDoc =
        "encode($self, /)\n--\n\n" +
        vmsg::detail::withLimits("The block: bytes exactly as the library writes them (VMsg::getMsg). ValueError for "
                                 "a message of more than {max-payload} payload bytes.");
    gEncodeDef.ml_doc = encodeDoc.c_str();
    setDescriptor(cls, "encode", PyDescr_NewMethod(type, &gEncodeDef));
    cls.def("segment", &segmentsOf, py::arg("frame"),
            vmsg::detail::withLimits("The message split for frames of this many bytes (VMsg::segmentMessage): a list of "
                                     "blocks, every one but the last with flag {more} set. The message is not changed.")
                .c_str());
    cls.def(
        "report",
        [](Message& m, py::handle dictionary) {
            const vmsg::Dictionary* dict =
                dictionary.is_none() ? nullptr : &dictionaryArgument(dictionary, "Message.report(): dictionary").tool();
            std::optional<py::bytes> block = blockOf(m);
            if (!block)
                tooLarge(m.msg(), "Message.report()");
            return textOf(reportText(*block, dict));
        },
        py::arg("dictionary") = py::none(),
        "What `vmsg decode [--dict FILE]` prints for the message's block (the block it was parsed from, or its "
        "encoding).");
    cls.def(
        "__eq__",
        [](Message& a, py::handle other) -> py::object {
            if (!py::isinstance<Message>(other))
                return py::reinterpret_borrow<py::object>(Py_NotImplemented);
            Message& b = other.cast<Message&>();
            const VMsg& x = a.msg();
            const VMsg& y = b.msg();
            return py::bool_(x.mId == y.mId && x.mFlags == y.mFlags && sameTags(x, y));
        },
        "Same id, flags and tags (types and payload bytes).");
    cls.def("__repr__", [](Message& m) { return textOf(describe(m)); });
}

} // namespace

std::string parseFailure(std::size_t size)
{
    if (size < vmsg::kMessageHeaderSize)
        return "block of " + std::to_string(size) + (size == 1 ? " byte" : " bytes") +
               "; a block needs at least 2 bytes, message id and flags";
    if (size > kMaxParsed)
        return "block of " + std::to_string(size) + " bytes; the parser takes at most " + std::to_string(kMaxParsed);
    return {};
}

Origin originOf(const unsigned char* block, std::size_t size, py::bytes kept)
{
    vmsg::Reader reader(block, size);
    vmsg::TagView tag;
    while (reader.next(tag)) {
    }
    return {reader.stop(), reader.offset(), std::move(kept)};
}

namespace {
constexpr std::size_t kSpareMemory = 64;
std::array<void*, kSpareMemory> gSpareMemory{};
std::size_t gSpareMemoryCount = 0;
} // namespace

void* Message::operator new(std::size_t size)
{
    if (size == sizeof(Message) && gSpareMemoryCount)
        return gSpareMemory[--gSpareMemoryCount];
    return ::operator new(size);
}

void Message::operator delete(void* memory) noexcept
{
    // The class is final: every block kept has the size of a Message.
    if (memory && gSpareMemoryCount < kSpareMemory) {
        gSpareMemory[gSpareMemoryCount++] = memory;
        return;
    }
    ::operator delete(memory);
}

Message::Message(unsigned char id, unsigned char flags) : mId(id), mFlags(flags) {}

Message::Message(std::unique_ptr<VMsg> msg, std::optional<Origin> origin)
    : mMsg(std::move(msg)), mOrigin(std::move(origin))
{
}

Message::Message(Origin origin) : mOrigin(std::move(origin)) {}

VMsg& Message::msg()
{
    if (!mMsg) {
        if (mOrigin) {
            const py::bytes& block = mOrigin->block;
            mMsg.reset(VMsg::parseMsg(PyBytes_AS_STRING(block.ptr()),
                                      static_cast<unsigned short>(PyBytes_GET_SIZE(block.ptr()))));
            if (!mMsg) // decode() takes no block that parseMsg refuses
                throw std::logic_error("vmsg.Message: its block no longer parses");
        } else {
            mMsg = vmsg::MessageBuilder(mId, mFlags).build();
        }
    }
    if (!mPending.empty()) {
        // The added tags, each read back as the parser reads it: the same
        // tags as the typed constructors build from the same values.
        VMsg added(0);
        unsigned char* at = mPending.data();
        const unsigned char* end = at + mPending.size();
        while (at < end) {
            void* next = nullptr;
            const auto left = static_cast<unsigned short>(std::min<std::size_t>(end - at, 65535));
            std::unique_ptr<VTag> tag(VTag::parseTag(at, left, &next));
            if (!tag)
                throw std::logic_error("vmsg.Message: an added tag does not parse");
            added.addTag(tag.release());
            at = static_cast<unsigned char*>(next);
        }
        mPending.clear();
        mMsg->addSegment(&added);
    }
    return *mMsg;
}

void Message::add(unsigned char tagId, unsigned char code, const void* payload, std::size_t size)
{
    if (mOrigin)
        changed();
    if (mPending.capacity() == 0)
        mPending.reserve(vmsg::kMaxBlock); // what most messages need at most
    unsigned char header[vmsg::kTagHeaderSize] = {tagId, code};
    vmsg::storeBE16(header + 2, static_cast<std::uint16_t>(size));
    mPending.insert(mPending.end(), header, header + sizeof header);
    if (size) {
        const auto* bytes = static_cast<const unsigned char*>(payload);
        mPending.insert(mPending.end(), bytes, bytes + size);
    }
}

const Origin* Message::walkedOrigin()
{
    if (!mOrigin)
        return nullptr;
    if (!mOrigin->walked) {
        const py::bytes& block = mOrigin->block;
        Origin walked = originOf(reinterpret_cast<const unsigned char*>(PyBytes_AS_STRING(block.ptr())),
                                 static_cast<std::size_t>(PyBytes_GET_SIZE(block.ptr())), block);
        mOrigin = std::move(walked);
    }
    return &*mOrigin;
}

unsigned char Message::id() const
{
    if (mMsg)
        return mMsg->mId;
    return mOrigin ? static_cast<unsigned char>(PyBytes_AS_STRING(mOrigin->block.ptr())[0]) : mId;
}

unsigned char Message::flags() const
{
    if (mMsg)
        return mMsg->mFlags;
    return mOrigin ? static_cast<unsigned char>(PyBytes_AS_STRING(mOrigin->block.ptr())[1]) : mFlags;
}

py::list Message::tags()
{
    // The read makes Python objects, which may set off a collection whose
    // finalizers change this message: dropping its block or moving its
    // added tags. So it reads a block it holds itself, or a copy of the
    // added tags.
    py::object block; // empty: py::bytes would make an empty bytes object
    std::vector<unsigned char> added;
    const unsigned char* data = nullptr;
    std::size_t size = 0, offset = 0;
    if (mOrigin) {
        // Unchanged since it was parsed: the tags parseMsg takes.
        block = mOrigin->block;
        data = reinterpret_cast<const unsigned char*>(PyBytes_AS_STRING(block.ptr()));
        size = static_cast<std::size_t>(PyBytes_GET_SIZE(block.ptr()));
        offset = vmsg::kMessageHeaderSize;
    } else if (!mMsg) {
        added = mPending;
        data = added.data();
        size = added.size();
    } else {
        return tagList(msg());
    }
    PyObject* list = newTagList(data, size, offset);
    if (!list)
        throw py::error_already_set();
    return py::reinterpret_steal<py::list>(list);
}

std::optional<py::bytes> Message::block()
{
    if (!mMsg && !mOrigin) {
        // Never made: the header and the added tags as they are.
        if (mPending.size() > vmsg::kMaxMessagePayload)
            return std::nullopt;
        PyObject* out = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(
                                                               vmsg::kMessageHeaderSize + mPending.size()));
        if (!out)
            throw py::error_already_set();
        auto* bytes = reinterpret_cast<unsigned char*>(PyBytes_AS_STRING(out));
        bytes[0] = mId;
        bytes[1] = mFlags;
        if (!mPending.empty())
            std::memcpy(bytes + vmsg::kMessageHeaderSize, mPending.data(), mPending.size());
        return py::reinterpret_steal<py::bytes>(out);
    }
    return writeBlock(msg());
}

std::unique_ptr<VMsg> cloneMessage(const VMsg& msg)
{
    auto copy = std::make_unique<VMsg>(msg.mId);
    copy->mFlags = msg.mFlags;
    for (const VTag& tag : vmsg::tags(msg)) {
        // createVTag reads the source and never changes it.
        std::unique_ptr<VTag> clone(VTagFactory::createVTag(const_cast<VTag*>(&tag)));
        copy->addTag(clone.release());
    }
    return copy;
}

Message& messageArgument(py::handle value, const Where& where)
{
    if (!py::isinstance<Message>(value))
        typeError(where, "a vmsg.Message", value);
    return value.cast<Message&>();
}

py::object messageObject(std::unique_ptr<VMsg> msg, std::optional<Origin> origin)
{
    return py::cast(std::make_unique<Message>(std::move(msg), std::move(origin)));
}

py::object stopObject(vmsg::Stop stop)
{
    return py::reinterpret_borrow<py::object>(gStops[static_cast<std::size_t>(stop)]);
}

py::list tagList(const VMsg& msg)
{
    py::list out;
    for (const VTag& tag : vmsg::tags(msg))
        out.append(tagObject(tag));
    return out;
}

py::list tagList(const std::vector<VTag*>& tags)
{
    py::list out;
    for (const VTag* tag : tags)
        out.append(tagObject(*tag));
    return out;
}

std::string reportText(const py::bytes& block, const vmsg::Dictionary* dict)
{
    std::string text =
        vmsg::describe(PyBytes_AS_STRING(block.ptr()), static_cast<std::size_t>(PyBytes_GET_SIZE(block.ptr())), dict);
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

void defineMessage(py::module_& module)
{
    gZero = PyLong_FromLong(0);
    if (!gZero)
        throw py::error_already_set();
    defineStop(module);
    defineMessageClass(module);
    const py::str moduleName("vmsg");
    PyObject* decodeFunction = PyCFunction_NewEx(&gDecodeDef, nullptr, moduleName.ptr());
    if (!decodeFunction)
        throw py::error_already_set();
    module.attr("decode") = py::reinterpret_steal<py::object>(decodeFunction);
    module.def("segment", &segmentBlock, py::arg("block"), py::arg("frame"),
               "`vmsg segment --frame FRAME` on one block: its segments as a list of blocks. ValueError for a "
               "block whose parse stops early (its rest would be lost).");
    module.def("join", &join, py::arg("segments"),
               "`vmsg join`: the segments (blocks, in order) joined into whole messages, a list of blocks. "
               "ValueError for a segment whose parse stops early, a segment of another message id before the "
               "last one, or input that ends before a last segment.");
}

} // namespace vmsgpy
