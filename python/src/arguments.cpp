#include "arguments.h"

#include <VWire.h>

#include <cfloat>
#include <cmath>
#include <cstring>

namespace vmsgpy {

namespace {

constexpr std::size_t kShownLength = 40;

// The smallest magnitude that rounds to infinity as an f32: FLT_MAX plus
// half of its last step (a tie rounds to the even neighbour, infinity).
constexpr double kFloatOverflow = 0x1.ffffffp127;

} // namespace

std::string Where::text() const
{
    std::string out = mCall;
    if (mList)
        out += std::string(": ") + mList + "[" + std::to_string(mIndex) + "]";
    if (mArgument)
        out += std::string(": ") + mArgument;
    return out;
}

std::string utf8(py::handle text)
{
    const py::object encoded =
        py::reinterpret_steal<py::object>(PyUnicode_AsEncodedString(text.ptr(), "utf-8", "surrogateescape"));
    if (!encoded)
        throw py::error_already_set();
    return {PyBytes_AS_STRING(encoded.ptr()), static_cast<std::size_t>(PyBytes_GET_SIZE(encoded.ptr()))};
}

py::str textOf(const std::string& text)
{
    PyObject* value = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogateescape");
    if (!value)
        throw py::error_already_set();
    return py::reinterpret_steal<py::str>(value);
}

std::string typeName(py::handle value)
{
    return Py_TYPE(value.ptr())->tp_name;
}

std::string shown(py::handle value)
{
    std::string text;
    // (An int of more than 4300 digits has no repr: Python refuses it.)
    PyObject* repr = PyObject_Repr(value.ptr());
    Py_ssize_t size = 0;
    const char* utf8 = repr ? PyUnicode_AsUTF8AndSize(repr, &size) : nullptr;
    if (utf8)
        text.assign(utf8, static_cast<std::size_t>(size));
    else
        text = "<" + typeName(value) + " object>";
    Py_XDECREF(repr);
    PyErr_Clear();
    if (text.size() > kShownLength) {
        text.resize(kShownLength - 3);
        text += "...";
    }
    return text;
}

void typeError(const Where& where, const std::string& expected, py::handle found)
{
    throw py::type_error(where.text() + ": expected " + expected + ", found " + typeName(found));
}

void valueError(const Where& where, const std::string& what)
{
    throw py::value_error(where.text() + ": " + what);
}

unsigned long unsignedArgument(py::handle value, unsigned long min, unsigned long max, const Where& where)
{
    const auto range = [&] { return "an int from " + std::to_string(min) + " to " + std::to_string(max); };
    // An int as such needs no __index__ call.
    if (PyLong_CheckExact(value.ptr())) {
        int overflow = 0;
        const long long wide = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
        if (overflow == 0 && wide >= 0 && static_cast<unsigned long long>(wide) >= min &&
            static_cast<unsigned long long>(wide) <= max)
            return static_cast<unsigned long>(wide);
    }
    // Floats have no __index__: 7.0 is refused rather than guessed at.
    if (!PyIndex_Check(value.ptr()))
        typeError(where, range(), value);
    const py::object number = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
    if (!number)
        throw py::error_already_set();
    int overflow = 0;
    const long long wide = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
    if (wide == -1 && PyErr_Occurred())
        throw py::error_already_set();
    if (overflow != 0 || wide < 0 || static_cast<unsigned long long>(wide) < min ||
        static_cast<unsigned long long>(wide) > max)
        valueError(where, "expected " + range() + ", found " + shown(value));
    return static_cast<unsigned long>(wide);
}

float floatArgument(py::handle value, const Where& where)
{
    if (!PyFloat_Check(value.ptr()) && !PyIndex_Check(value.ptr()))
        typeError(where, "a float", value);
    const double wide = PyFloat_AsDouble(value.ptr());
    if (wide == -1.0 && PyErr_Occurred()) {
        // An int too large for a double (or an __index__ that failed).
        PyErr_Clear();
        valueError(where, shown(value) + " is beyond the range of f32");
    }
    if (std::isfinite(wide) && std::fabs(wide) >= kFloatOverflow)
        valueError(where, shown(value) + " is beyond the range of f32");
    // Between FLT_MAX and the overflow bound the value rounds to FLT_MAX;
    // converting it directly would be undefined.
    if (std::fabs(wide) > FLT_MAX && std::isfinite(wide))
        return wide > 0 ? FLT_MAX : -FLT_MAX;
    return static_cast<float>(wide);
}

std::string_view textArgument(py::handle value, const Where& where, std::string& storage)
{
    std::string_view text;
    if (PyUnicode_Check(value.ptr())) {
        // The str's own UTF-8 form, kept with it; it fails only for lone
        // surrogates, which stand for bytes that are not UTF-8.
        Py_ssize_t size = 0;
        if (const char* utf8Text = PyUnicode_AsUTF8AndSize(value.ptr(), &size)) {
            text = std::string_view(utf8Text, static_cast<std::size_t>(size));
        } else {
            PyErr_Clear();
            try {
                storage = utf8(value);
            } catch (py::error_already_set&) {
                // Only surrogates that no decode makes fail here.
                valueError(where, "the text cannot be written in UTF-8: " + shown(value));
            }
            text = storage;
        }
    } else if (PyObject_CheckBuffer(value.ptr())) {
        const Bytes bytes(value, where);
        storage.assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        text = storage;
    } else {
        typeError(where, "a str (or bytes)", value);
    }
    if (text.size() > vmsg::kMaxText)
        valueError(where, "text of " + std::to_string(text.size()) + " bytes; a str tag holds at most " +
                              std::to_string(vmsg::kMaxText));
    if (const std::size_t nul = text.find('\0'); nul != std::string::npos)
        valueError(where, "the text holds a NUL at index " + std::to_string(nul) +
                              "; a str tag ends at its first NUL");
    return text;
}

std::string textArgument(py::handle value, const Where& where)
{
    std::string storage;
    const std::string_view text = textArgument(value, where, storage);
    return std::string(text);
}

Bytes::Bytes(py::handle value, const Where& where) : mObject(value), mView{}
{
    constexpr const char* expected = "bytes, bytearray or memoryview";
    if (PyBytes_CheckExact(value.ptr())) {
        // Read in place without the buffer protocol; no view to release.
        mView.buf = PyBytes_AS_STRING(value.ptr());
        mView.len = PyBytes_GET_SIZE(value.ptr());
        return;
    }
    if (PyUnicode_Check(value.ptr()) || !PyObject_CheckBuffer(value.ptr()))
        typeError(where, expected, value);
    if (PyObject_GetBuffer(value.ptr(), &mView, PyBUF_SIMPLE) != 0) {
        PyErr_Clear();
        typeError(where, std::string("contiguous ") + expected, value);
    }
}

Bytes::~Bytes()
{
    if (mView.obj) // none for a bytes read in place
        PyBuffer_Release(&mView);
}

py::bytes Bytes::keep() const
{
    if (PyBytes_CheckExact(mObject.ptr()))
        return py::reinterpret_borrow<py::bytes>(mObject);
    return py::bytes(reinterpret_cast<const char*>(data()), size());
}

} // namespace vmsgpy
