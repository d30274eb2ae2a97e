// Checking what Python code passes in: ids, numbers, floats, texts and
// bytes. Every refusal is a TypeError (wrong kind of object) or a
// ValueError (right kind, wrong value) whose message starts with where it
// happened and the argument's name, "Message.u8(): value: ...", so that a
// test rig's author sees which argument of which call to fix.
#ifndef VMSG_PYTHON_ARGUMENTS_H
#define VMSG_PYTHON_ARGUMENTS_H

#include <pybind11/pybind11.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace vmsgpy {

namespace py = pybind11;

/// Where an argument was passed, put into words only when it is refused
/// (checks run for every tag; most pass): "Message.u8(): value",
/// "Message(): tags[3]: value".
class Where {
public:
    /// A call and, if given, an argument of it. Implicit, for a whole
    /// place written as one literal: byteArgument(id, "Message(): id").
    Where(const char* call, const char* argument = nullptr) : mCall(call), mArgument(argument) {}
    /// Item @p index of the list argument @p list of @p call.
    Where(const char* call, const char* list, std::size_t index) : mCall(call), mList(list), mIndex(index) {}

    /// The same place, narrowed to @p argument (of the item, for a list).
    Where with(const char* argument) const
    {
        Where narrower = *this;
        narrower.mArgument = argument;
        return narrower;
    }
    /// "CALL: LIST[INDEX]: ARGUMENT", the parts that are given.
    std::string text() const;

private:
    const char* mCall;
    const char* mList = nullptr;
    std::size_t mIndex = 0;
    const char* mArgument = nullptr;
};

/// A short text for @p value in a message: its repr, cut to 40
/// characters; never fails (an object whose repr raises is named by its
/// type).
std::string shown(py::handle value);

/// The bytes of a str in UTF-8, lone surrogates as the bytes they stand
/// for (the inverse of textOf).
std::string utf8(py::handle text);

/// A str of UTF-8 text made by the library or the tool; bytes that are not
/// UTF-8 become lone surrogates, so no text is refused.
py::str textOf(const std::string& text);

/// The name of the type of @p value, "int", "bytes", ...
std::string typeName(py::handle value);

/// Raises TypeError "WHERE: expected EXPECTED, found TYPE".
[[noreturn]] void typeError(const Where& where, const std::string& expected, py::handle found);

/// Raises ValueError "WHERE: WHAT".
[[noreturn]] void valueError(const Where& where, const std::string& what);

/// An int (or an object with __index__) from @p min to @p max.
/// @throws TypeError for anything else, ValueError out of range.
unsigned long unsignedArgument(py::handle value, unsigned long min, unsigned long max, const Where& where);

/// unsignedArgument, inline for an int of at most two digits (below
/// 2**60), the usual case, which is read from its digits directly.
inline unsigned long quickUnsigned(py::handle value, unsigned long min, unsigned long max, const Where& where)
{
#if PY_VERSION_HEX < 0x030C0000
    PyObject* object = value.ptr();
    if (PyLong_CheckExact(object) && Py_SIZE(object) >= 0 && Py_SIZE(object) <= 2) {
        const auto* number = reinterpret_cast<const PyLongObject*>(object);
        unsigned long long wide = 0;
        for (Py_ssize_t i = Py_SIZE(object); i-- > 0;)
            wide = (wide << PyLong_SHIFT) | number->ob_digit[i];
        if (wide >= min && wide <= max)
            return static_cast<unsigned long>(wide);
    }
#endif
    return unsignedArgument(value, min, max, where);
}

/// An id or a flags byte: an int from 0 to 255.
inline unsigned char byteArgument(py::handle value, const Where& where)
{
    return static_cast<unsigned char>(quickUnsigned(value, 0, 255, where));
}

/// A float or an int, as the f32 it rounds to.
/// @throws TypeError for anything else; ValueError for a finite value
///         beyond the range of f32 (the tool refuses those too).
float floatArgument(py::handle value, const Where& where);

/// The characters of a text tag: a str in UTF-8 (lone surrogates, as a
/// decoded text holds them for bytes that are not UTF-8, become those
/// bytes again), or bytes as they are.
/// @throws TypeError for anything else; ValueError for a text of more than
///         1017 bytes or one holding a NUL, which the library would cut.
std::string textArgument(py::handle value, const Where& where);
/// textArgument without a copy where the str has its UTF-8 form: the view
/// lives as long as @p value, or as @p storage, which holds a converted
/// text.
std::string_view textArgument(py::handle value, const Where& where, std::string& storage);

/// A bytes-like argument (bytes, bytearray, memoryview, ...) read in place
/// while the object lives.
class Bytes {
public:
    /// @throws TypeError for an object without contiguous bytes (a str
    ///         included).
    Bytes(py::handle value, const Where& where);
    ~Bytes();
    Bytes(const Bytes&) = delete;
    Bytes& operator=(const Bytes&) = delete;

    const unsigned char* data() const { return static_cast<const unsigned char*>(mView.buf); }
    std::size_t size() const { return static_cast<std::size_t>(mView.len); }
    /// The object itself when it is an immutable bytes, else a bytes copy.
    py::bytes keep() const;

private:
    py::handle mObject;
    Py_buffer mView;
};

} // namespace vmsgpy

#endif
