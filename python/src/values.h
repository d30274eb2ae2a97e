// Tags as Python sees them: vmsg.Tag, a named tuple (id, type, value) with
// the type's short name from the library's type table and the value read
// by the library's typed accessors; and the type argument of a tag item.
#ifndef VMSG_PYTHON_VALUES_H
#define VMSG_PYTHON_VALUES_H

#include <pybind11/pybind11.h>

#include "arguments.h"

#include <VTag.h>
#include <VWire.h>

#include <initializer_list>
#include <string>
#include <utility>

namespace vmsgpy {

namespace py = pybind11;

/// A named tuple type ("struct sequence") vmsg.NAME with the given fields,
/// each a (name, doc) pair; added to @p module. The type lives as long as
/// the interpreter.
PyTypeObject* namedTuple(py::module_& module, const char* qualifiedName, const char* doc,
                         std::initializer_list<std::pair<const char*, const char*>> fields);

/// A new instance of @p type holding @p items, in field order.
py::object makeNamedTuple(PyTypeObject* type, std::initializer_list<py::object> items);

/// Adds vmsg.Tag and the type names to @p module.
void defineValues(py::module_& module);

/// The value of @p tag as Python has it: None (null), int (u8, u16, u32),
/// float (f32), str (text, decoded as UTF-8 with the bytes that are not
/// UTF-8 kept as lone surrogates) or bytes.
py::object tagValue(const VTag& tag);

/// vmsg.Tag(id, type, value) of @p tag.
py::object tagObject(const VTag& tag);

/// tagValue of a tag read in place: a new reference, or null with the
/// Python error set.
PyObject* newValue(const vmsg::TagView& tag);
/// tagObject of a tag read in place: a new reference, or null with the
/// Python error set.
PyObject* newTag(const vmsg::TagView& tag);

/// A new list of vmsg.Tag of the tags of the @p size bytes at @p data,
/// read from @p offset on as the parser reads them, up to the first it
/// refuses; null with the Python error set.
PyObject* newTagList(const unsigned char* data, std::size_t size, std::size_t offset);

/// The interned short name of type code @p code (borrowed): compared by
/// identity first, as the names written in a program are these objects.
PyObject* typeNameObject(unsigned code);

/// The short type name of code @p code, as a shared Python str; "unknown"
/// for a code above 6.
py::str typeNameOf(unsigned code);

/// The type an item names: a short name ("u8") or a type code (4).
/// @throws TypeError, or ValueError for an unknown name or code.
const vmsg::TypeInfo& typeArgument(py::handle type, const Where& where);

} // namespace vmsgpy

#endif
