// The library's error records as Python exceptions: vmsg.ProtocolError
// and one subclass per error code, each carrying the code, the decoded
// detail and every record of the list; and vmsg.DictionaryError, which
// lists the problems of a dictionary file as the tool prints them.
#ifndef VMSG_PYTHON_ERRORS_H
#define VMSG_PYTHON_ERRORS_H

#include <pybind11/pybind11.h>

#include <vmsg.hpp>

#include <string>
#include <vector>

namespace vmsg {
class Dictionary;
}

namespace vmsgpy {

namespace py = pybind11;

/// Adds the exception classes to @p module.
void defineErrors(py::module_& module);

/// Raises the ProtocolError subclass of the first record's code; the
/// message gives every record as the tool does, "ErrUnknownMessage (detail
/// 7f): message id 0x7f is not in the dictionary".
/// @param records at least one record.
/// @param dict names the tags of ErrMissingTag; may be null.
/// @param note appended to the message in parentheses when not empty.
[[noreturn]] void raiseErrors(const std::vector<const VError*>& records, const vmsg::Dictionary* dict,
                              const std::string& note = "");

/// raiseErrors for a list the library returned; returns when it is empty.
void raiseIfAny(const vmsg::Errors& errors, const vmsg::Dictionary* dict, const std::string& note = "");

/// Raises the exception of @p code for a record without detail, the way
/// the library reports it (ErrParseFailed for a block that yields no
/// message).
[[noreturn]] void raiseCode(unsigned short code, const std::string& note);

/// Raises vmsg.DictionaryError with @p problems, one line each.
[[noreturn]] void raiseDictionaryError(const std::string& source, const std::vector<std::string>& problems);

} // namespace vmsgpy

#endif
