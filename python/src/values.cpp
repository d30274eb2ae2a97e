#include "values.h"

#include "arguments.h"

#include <format/Text.h>

#include <vmsg.hpp>

#include <array>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace vmsgpy {

namespace {

PyTypeObject* gTagType = nullptr;
// vmsg.Tag's fields: id, type, value, all of them visible.
constexpr Py_ssize_t kTagFields = 3;

// Tags whose last reference went, kept for the next ones, as the
// interpreter keeps small tuples: decoding a message makes a tag per tag
// and drops them again when its list goes. Each keeps its memory (and its
// collector header, untracked) and its reference to the type.
constexpr std::size_t kSpareTags = 2048;
std::array<PyObject*, kSpareTags> gSpareTags{};
std::size_t gSpareCount = 0;

// Whether a field of @p self is of a type the collector tracks: only then
// can the tag be part of a reference cycle.
inline bool holdsContainers(PyObject* self)
{
    auto* tag = reinterpret_cast<PyTupleObject*>(self);
    for (Py_ssize_t i = 0; i < kTagFields; ++i) {
        if (tag->ob_item[i] && PyType_IS_GC(Py_TYPE(tag->ob_item[i])))
            return true;
    }
    return false;
}

// The struct sequence's tp_new, which tagNew calls.
newfunc gStructSeqNew = nullptr;

// The type's tp_new (vmsg.Tag((id, type, value)) from Python): the struct
// sequence's, then, as the interpreter does for tuples, the new tag taken
// off the collector's list when none of its fields can lead back to it.
// So a vmsg.Tag itself is tracked only while it holds containers, as the
// module's own tags (never tracked) never do.
PyObject* tagNew(PyTypeObject* type, PyObject* args, PyObject* kwds)
{
    PyObject* self = gStructSeqNew(type, args, kwds);
    // (The type takes no subclasses, whose instances could hold a
    // dictionary; the test of the type keeps it so should that change.)
    if (self && Py_TYPE(self) == gTagType && !holdsContainers(self))
        PyObject_GC_UnTrack(self);
    return self;
}

// The type's tp_dealloc: what the struct sequence's own does for an
// instance of 3 visible fields, without looking the count up in the
// type's dictionary, and keeping the memory while there is room. A spare
// keeps its type, and the reference to it, for the tag it becomes next.
void tagDealloc(PyObject* self)
{
    // Always, whatever the fields: not every vmsg.Tag was made by tagOf or
    // tagNew. Python may give an instance of another struct sequence of the
    // same layout (vmsg.TagDef), tracked, the class vmsg.Tag; and later
    // versions make struct sequences in more ways (__replace__). A spare
    // left on the collector's list would be visited, and handed out by
    // gc.get_objects(), dead.
    PyObject_GC_UnTrack(self);
    auto* tag = reinterpret_cast<PyTupleObject*>(self);
    for (Py_ssize_t i = 0; i < kTagFields; ++i)
        Py_XDECREF(tag->ob_item[i]);
    PyTypeObject* type = Py_TYPE(self);
    if (gSpareCount < kSpareTags && type == gTagType && Py_SIZE(self) == kTagFields) {
        gSpareTags[gSpareCount++] = self;
        return;
    }
    PyObject_GC_Del(self);
    Py_DECREF(type);
}

// One interned str per type code; they live as long as the interpreter.
std::array<PyObject*, vmsg::kTypeCount> gTypeNames{};
PyObject* gUnknownType = nullptr;
// The ints 0 to 255 (the interpreter's own small ints), for ids and bytes.
std::array<PyObject*, 256> gBytes{};

} // namespace

PyTypeObject* namedTuple(py::module_& module, const char* qualifiedName, const char* doc,
                         std::initializer_list<std::pair<const char*, const char*>> fields)
{
    // The type copies what it needs of the description; the names and
    // docs are literals, which live for good.
    std::vector<PyStructSequence_Field> members;
    for (const auto& [name, help] : fields)
        members.push_back({name, help});
    members.push_back({nullptr, nullptr});
    PyStructSequence_Desc desc{qualifiedName, doc, members.data(), static_cast<int>(fields.size())};
    PyTypeObject* type = PyStructSequence_NewType(&desc);
    if (!type)
        throw py::error_already_set();
    const std::string qualified = qualifiedName;
    module.attr(qualified.substr(qualified.rfind('.') + 1).c_str()) = py::handle(reinterpret_cast<PyObject*>(type));
    return type;
}

py::object makeNamedTuple(PyTypeObject* type, std::initializer_list<py::object> items)
{
    py::object tuple = py::reinterpret_steal<py::object>(PyStructSequence_New(type));
    if (!tuple)
        throw py::error_already_set();
    Py_ssize_t index = 0;
    for (const py::object& item : items)
        PyStructSequence_SetItem(tuple.ptr(), index++, py::object(item).release().ptr());
    return tuple;
}

void defineValues(py::module_& module)
{
    gTagType = namedTuple(module, "vmsg.Tag",
                          "A tag of a message: its id, the short name of its type (null, str, u32, u16, u8, "
                          "bytes or f32) and its value (None, int, float, str or bytes).",
                          {{"id", "The tag id, 0 to 255."},
                           {"type", "The type's short name."},
                           {"value", "The value as the library reads it."}});
    // newTag builds instances for exactly these fields.
    const py::handle tagType(reinterpret_cast<PyObject*>(gTagType));
    if (tagType.attr("n_fields").cast<Py_ssize_t>() != kTagFields ||
        tagType.attr("n_sequence_fields").cast<Py_ssize_t>() != kTagFields)
        throw std::logic_error("vmsg.Tag: unexpected field counts");
    gTagType->tp_dealloc = tagDealloc;
    gStructSeqNew = gTagType->tp_new;
    gTagType->tp_new = tagNew;
    for (std::size_t i = 0; i < gBytes.size(); ++i) {
        gBytes[i] = PyLong_FromSize_t(i);
        if (!gBytes[i])
            throw py::error_already_set();
    }
    py::list names;
    for (const vmsg::TypeInfo& type : vmsg::kTypes) {
        gTypeNames[type.code] = PyUnicode_InternFromString(type.name);
        if (!gTypeNames[type.code])
            throw py::error_already_set();
        names.append(py::handle(gTypeNames[type.code]));
    }
    gUnknownType = PyUnicode_InternFromString("unknown");
    if (!gUnknownType)
        throw py::error_already_set();
    module.attr("TYPES") = py::tuple(names);
}

py::str typeNameOf(unsigned code)
{
    return py::reinterpret_borrow<py::str>(code < gTypeNames.size() ? gTypeNames[code] : gUnknownType);
}

PyObject* typeNameObject(unsigned code)
{
    // cppcheck-suppress CastIntegerToAddressAtReturn ; both are PyObject*, a type cppcheck does not see
    return code < gTypeNames.size() ? gTypeNames[code] : gUnknownType;
}

namespace {

// newValue and newTag, inlined into the walk of newTagList.
inline PyObject* valueOf(const vmsg::TagView& tag)
{
    switch (tag.type) {
    case VTag::TagNull: Py_INCREF(Py_None); return Py_None;
    case VTag::TagUInt8: {
        PyObject* value = gBytes[tag.u8()];
        Py_INCREF(value);
        return value;
    }
    case VTag::TagUInt16: return PyLong_FromLong(tag.u16());
    case VTag::TagUInt32:
        // Where a long holds every u32, the signed call: it has the
        // interpreter's quick path for values below 2**30.
        if constexpr (sizeof(long) > sizeof(std::uint32_t))
            return PyLong_FromLong(static_cast<long>(tag.u32()));
        else
            return PyLong_FromUnsignedLong(tag.u32());
    case VTag::TagFloat: return PyFloat_FromDouble(static_cast<double>(tag.f32()));
    case VTag::TagString: {
        const std::string_view text = tag.text();
        return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogateescape");
    }
    case VTag::TagBytes: {
        const std::string_view bytes = tag.bytes();
        return PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size()));
    }
    }
    // A code above 6, which no built or parsed tag has.
    Py_INCREF(Py_None);
    return Py_None;
}

inline PyObject* tagOf(const vmsg::TagView& tag)
{
    PyObject* value = valueOf(tag);
    if (!value)
        return nullptr;
    // What PyStructSequence_New does for a type whose fields are all
    // visible, without its two look-ups of the field counts in the type's
    // dictionary: a tuple-shaped object of the type, not tracked by the
    // collector (it holds no containers).
    PyTupleObject* out = nullptr;
    if (gSpareCount) {
        // A spare has its type and the reference to it: a new reference
        // count is all it needs, as for the interpreter's spare tuples.
        out = reinterpret_cast<PyTupleObject*>(gSpareTags[--gSpareCount]);
        _Py_NewReference(reinterpret_cast<PyObject*>(out));
    } else {
        out = PyObject_GC_NewVar(PyTupleObject, gTagType, kTagFields);
        if (!out) {
            Py_DECREF(value);
            return nullptr;
        }
    }
    out->ob_item[0] = gBytes[tag.id];
    Py_INCREF(out->ob_item[0]);
    PyObject* name = typeNameObject(tag.type);
    Py_INCREF(name);
    out->ob_item[1] = name;
    out->ob_item[2] = value;
    return reinterpret_cast<PyObject*>(out);
}

} // namespace

PyObject* newValue(const vmsg::TagView& tag)
{
    return valueOf(tag);
}

PyObject* newTag(const vmsg::TagView& tag)
{
    return tagOf(tag);
}

namespace {

// Copies @p count pointers. Out of line, so that the copy is a call of
// memcpy: inlined, for a count known to be small, the compiler makes it a
// string instruction that starts slowly for a dozen pointers.
[[gnu::noinline]] void movePointers(PyObject** to, PyObject* const* from, std::size_t count)
{
    std::memcpy(to, from, count * sizeof(PyObject*));
}

} // namespace

PyObject* newTagList(const unsigned char* data, std::size_t size, std::size_t offset)
{
    // Each tag becomes its vmsg.Tag as it is read, the first kShortList of
    // them kept here until the list is made at its size: a short message
    // is walked once. The tags after those are counted first, then read
    // again straight into the list.
    constexpr std::size_t kShortList = 64;
    PyObject* first[kShortList];
    std::size_t count = 0;
    vmsg::TagView view;
    const auto dropFirst = [&] {
        for (std::size_t i = 0; i < count; ++i)
            Py_DECREF(first[i]);
    };
    for (; count < kShortList && offset < size && vmsg::readTag(data, size, offset, view) == vmsg::Stop::End;
         offset += view.size()) {
        PyObject* tag = tagOf(view);
        if (!tag) {
            dropFirst();
            return nullptr;
        }
        first[count++] = tag;
    }
    std::size_t rest = 0;
    for (std::size_t at = offset; at < size && vmsg::readTag(data, size, at, view) == vmsg::Stop::End;
         at += view.size())
        ++rest;
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(count + rest));
    if (!list) {
        dropFirst();
        return nullptr;
    }
    if (count) // an empty list has no items array
        movePointers(reinterpret_cast<PyListObject*>(list)->ob_item, first, count);
    for (std::size_t i = count; i < count + rest; ++i, offset += view.size()) {
        vmsg::readTag(data, size, offset, view);
        PyObject* tag = tagOf(view);
        if (!tag) {
            Py_DECREF(list); // with the tags made so far
            return nullptr;
        }
        PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), tag);
    }
    return list;
}

py::object tagValue(const VTag& tag)
{
    PyObject* value = newValue(vmsg::view(tag));
    if (!value)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(value);
}

py::object tagObject(const VTag& tag)
{
    PyObject* out = newTag(vmsg::view(tag));
    if (!out)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(out);
}

const vmsg::TypeInfo& typeArgument(py::handle type, const Where& where)
{
    const vmsg::TypeInfo* info = nullptr;
    if (PyUnicode_Check(type.ptr())) {
        for (const vmsg::TypeInfo& known : vmsg::kTypes) {
            if (gTypeNames[known.code] == type.ptr())
                return known;
        }
        Py_ssize_t size = 0;
        const char* name = PyUnicode_AsUTF8AndSize(type.ptr(), &size);
        if (name)
            info = vmsg::typeInfo(std::string_view(name, static_cast<std::size_t>(size)));
        else
            PyErr_Clear(); // lone surrogates: no type's name
        if (!info)
            valueError(where, "unknown type " + shown(type) + "; expected one of " + vmsg::detail::typeNameList());
    } else if (PyIndex_Check(type.ptr())) {
        info = vmsg::typeInfo(unsignedArgument(type, 0, vmsg::kTypeCount - 1, where));
    } else {
        typeError(where, std::string("a type name (") + vmsg::detail::typeNameList() + ") or code", type);
    }
    return *info;
}

} // namespace vmsgpy
