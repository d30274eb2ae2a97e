#include "values.h"

#include "arguments.h"

#include <TagText.h>

#include <vmsg.hpp>

#include <array>
#include <vector>

namespace vmsgpy {

namespace {

PyTypeObject* gTagType = nullptr;
// One interned str per type code; they live as long as the interpreter.
std::array<PyObject*, vmsg::kTypeCount> gTypeNames{};
PyObject* gUnknownType = nullptr;

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

py::object tagValue(const VTag& tag)
{
    switch (tag.mType) {
    case VTag::TagNull: return py::none();
    case VTag::TagUInt8: return py::int_(*vmsg::value<std::uint8_t>(tag));
    case VTag::TagUInt16: return py::int_(*vmsg::value<std::uint16_t>(tag));
    case VTag::TagUInt32: return py::int_(*vmsg::value<std::uint32_t>(tag));
    case VTag::TagFloat: return py::float_(static_cast<double>(*vmsg::value<float>(tag)));
    case VTag::TagString: {
        const std::string_view text = *vmsg::text(tag);
        PyObject* value =
            PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogateescape");
        if (!value)
            throw py::error_already_set();
        return py::reinterpret_steal<py::object>(value);
    }
    case VTag::TagBytes: {
        const std::string_view bytes = *vmsg::bytes(tag);
        return py::bytes(bytes.data(), bytes.size());
    }
    }
    return py::none(); // a code above 6, which no built or parsed tag has
}

py::object tagObject(const VTag& tag)
{
    return makeNamedTuple(gTagType, {py::int_(tag.mId), typeNameOf(tag.mType), tagValue(tag)});
}

const vmsg::TypeInfo& typeArgument(py::handle type, const Where& where)
{
    const vmsg::TypeInfo* info = nullptr;
    if (PyUnicode_Check(type.ptr())) {
        info = vmsg::typeInfo(std::string_view(type.cast<std::string>()));
        if (!info)
            valueError(where, "unknown type " + shown(type) + "; expected one of " + vmsgtool::typeNameList());
    } else if (PyIndex_Check(type.ptr())) {
        info = vmsg::typeInfo(unsignedArgument(type, 0, vmsg::kTypeCount - 1, where));
    } else {
        typeError(where, std::string("a type name (") + vmsgtool::typeNameList() + ") or code", type);
    }
    return *info;
}

} // namespace vmsgpy
