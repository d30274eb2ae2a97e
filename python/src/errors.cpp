#include "errors.h"

#include "arguments.h"
#include "message.h"
#include "values.h"

#include <VFormat.h>
#include <format/Text.h>

#include <array>

namespace vmsgpy {

namespace {

// One exception class per error code of the library (VErrorCode).
struct ErrorClass {
    VErrorCode code;
    const char* name;
    const char* doc;
};

constexpr std::array<ErrorClass, 9> kErrorClasses{{
    {ErrUnknownMessage, "UnknownMessage", "The message id is not in the dictionary; detail: the id."},
    {ErrMissingTag, "MissingTag", "A required tag is missing; detail: its tag id (errors lists every one)."},
    {ErrBufferTooSmall, "BufferTooSmall",
     "The capacity given to bytes_out is too small; detail: the bytes needed. The message stays queued."},
    {ErrLengthMismatch, "LengthMismatch",
     "A message of over {max-payload} payload bytes, which no block holds: refused by Endpoint.send (detail: the "
     "bytes its block would take) or, queued another way, gone from bytes_out (no detail)."},
    {ErrParseFailed, "ParseFailed",
     "The block yields no message, or Endpoint.bytes_in refuses it: fewer than 2 bytes, longer than the "
     "endpoint takes, or damaged. stop and stop_offset say why and where (None when not known); no detail. "
     "Also a ValueError."},
    {ErrNullArgument, "NullArgument",
     "A required argument was null; no detail. The module never passes null, so it is not raised from "
     "Python."},
    {ErrTagCountMismatch, "TagCountMismatch",
     "The structured view copied another number of tags than the message counts (a message of more than "
     "65535 tags); detail: copies minus the count."},
    {ErrQueueFull, "QueueFull",
     "The endpoint's queue holds max_queued messages: send or bytes_in took nothing; no detail."},
    {ErrJoinTooLarge, "JoinTooLarge",
     "A joiner (vmsg::Joiner, C++) would pass its bound on the joined size; no detail. The module has no "
     "joiner, so it is not raised from Python."},
}};

// Created once with the module and kept for the life of the interpreter.
PyObject* gProtocolError = nullptr;
std::array<PyObject*, kErrorClasses.size()> gErrorClasses{};
PyObject* gDictionaryError = nullptr;
PyTypeObject* gRecordType = nullptr;

PyObject* newException(const char* name, const char* doc, PyObject* bases, py::dict attributes)
{
    PyObject* type = PyErr_NewExceptionWithDoc(name, doc, bases, attributes.ptr());
    if (!type)
        throw py::error_already_set();
    return type;
}

PyObject* classOf(unsigned code)
{
    for (std::size_t i = 0; i < kErrorClasses.size(); ++i) {
        if (kErrorClasses[i].code == code)
            return gErrorClasses[i];
    }
    return gProtocolError;
}

// "ErrBufferTooSmall (detail 22 00): needs a buffer of 34 bytes"
std::string recordText(const VError& record, const vmsg::Dictionary* dict)
{
    const std::size_t length = record.mData ? record.mLength : 0;
    const std::string detail = length ? " (detail " + vmsg::detail::hexBytes(record.mData, length) + ")" : "";
    return vmsg::errorName(record.mCode) + detail + ": " + vmsg::errorText(record, dict);
}

py::object recordObject(const VError& record, const std::string& text)
{
    const std::optional<int> detail = vmsg::errorDetail(record);
    const std::size_t length = record.mData ? record.mLength : 0;
    return makeNamedTuple(gRecordType, {py::int_(record.mCode), py::str(vmsg::errorName(record.mCode)),
                                        detail ? py::object(py::int_(*detail)) : py::object(py::none()),
                                        py::bytes(reinterpret_cast<const char*>(record.mData), length),
                                        textOf(text)});
}

[[noreturn]] void raiseInstance(PyObject* type, const py::object& instance)
{
    PyErr_SetObject(type, instance.ptr());
    throw py::error_already_set();
}

} // namespace

void defineErrors(py::module_& module)
{
    gRecordType = namedTuple(module, "vmsg.ErrorRecord", "One error record of the library.",
                             {{"code", "The error code (1 UnknownMessage ... 11 TagCountMismatch)."},
                              {"name", "The code's name, ErrUnknownMessage ..."},
                              {"detail", "The detail decoded as the code defines it, or None."},
                              {"data", "The detail bytes as the record holds them."},
                              {"text", "The record as the vmsg tool prints it."}});
    py::dict base;
    base["code"] = py::none();
    base["name"] = py::none();
    gProtocolError = newException(
        "vmsg.ProtocolError",
        "An error the library reported. Attributes: code, name and detail of the first record, data (its detail "
        "bytes) and errors (every record, as vmsg.ErrorRecord).",
        PyExc_Exception, base);
    module.attr("ProtocolError") = py::handle(gProtocolError);
    for (std::size_t i = 0; i < kErrorClasses.size(); ++i) {
        const ErrorClass& entry = kErrorClasses[i];
        py::dict attributes;
        attributes["code"] = py::int_(static_cast<int>(entry.code));
        attributes["name"] = py::str(vmsg::errorName(entry.code));
        const std::string qualified = std::string("vmsg.") + entry.name;
        py::object bases = entry.code == ErrParseFailed
                               ? py::object(py::make_tuple(py::handle(gProtocolError), py::handle(PyExc_ValueError)))
                               : py::reinterpret_borrow<py::object>(gProtocolError);
        gErrorClasses[i] = newException(qualified.c_str(), vmsg::detail::withLimits(entry.doc).c_str(), bases.ptr(), attributes);
        module.attr(entry.name) = py::handle(gErrorClasses[i]);
    }
    gDictionaryError = newException(
        "vmsg.DictionaryError",
        "A dictionary file that breaks the rules of the format. Attributes: source (the file name) and problems "
        "(every problem, one line each, as `vmsg dict check` prints them).",
        PyExc_ValueError, py::dict());
    module.attr("DictionaryError") = py::handle(gDictionaryError);
}

void raiseErrors(const std::vector<const VError*>& records, const vmsg::Dictionary* dict,
                 const std::string& note)
{
    py::list list;
    std::string message;
    for (const VError* record : records) {
        const std::string text = recordText(*record, dict);
        list.append(recordObject(*record, text));
        message += (message.empty() ? "" : "; ") + text;
    }
    if (!note.empty())
        message += " (" + note + ")";
    const VError& first = *records.front();
    PyObject* type = classOf(first.mCode);
    py::object instance = py::handle(type)(textOf(message));
    const std::optional<int> detail = vmsg::errorDetail(first);
    instance.attr("code") = py::int_(first.mCode);
    instance.attr("name") = py::str(vmsg::errorName(first.mCode));
    instance.attr("detail") = detail ? py::object(py::int_(*detail)) : py::object(py::none());
    instance.attr("data") = list[0].attr("data");
    if (first.mCode == ErrParseFailed) {
        const std::optional<vmsg::ParseStop> stop = vmsg::parseStop(first);
        instance.attr("stop") = stop ? stopObject(stop->stop) : py::object(py::none());
        instance.attr("stop_offset") = stop ? py::object(py::int_(stop->offset)) : py::object(py::none());
    }
    instance.attr("errors") = list;
    raiseInstance(type, instance);
}

void raiseIfAny(const vmsg::Errors& errors, const vmsg::Dictionary* dict, const std::string& note)
{
    if (errors.empty())
        return;
    std::vector<const VError*> records;
    for (const VError& record : errors)
        records.push_back(&record);
    raiseErrors(records, dict, note);
}

void raiseCode(unsigned short code, const std::string& note)
{
    const VError record(code, nullptr, 0);
    raiseErrors({&record}, nullptr, note);
}

void raiseDictionaryError(const std::string& source, const std::vector<std::string>& problems)
{
    py::list lines;
    std::string message;
    for (const std::string& problem : problems) {
        lines.append(textOf(problem));
        message += (message.empty() ? "" : "\n") + problem;
    }
    py::object instance = py::handle(gDictionaryError)(textOf(message));
    instance.attr("source") = textOf(source);
    instance.attr("problems") = lines;
    raiseInstance(gDictionaryError, instance);
}

} // namespace vmsgpy
