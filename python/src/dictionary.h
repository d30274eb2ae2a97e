// vmsg.Dictionary: a dictionary file checked and built by the library's
// vmsg::Dictionary, the same rules as `vmsg dict check`;
// and the calls that read a message by it: missing_tags (vmsg::missingTags)
// and structure (vmsg::structure), whose result is vmsg.Structure.
#ifndef VMSG_PYTHON_DICTIONARY_H
#define VMSG_PYTHON_DICTIONARY_H

#include "arguments.h"

#include <pybind11/pybind11.h>

#include <VDictionary.h>

#include <vmsg.hpp>

#include <memory>
#include <string>

namespace vmsgpy {

namespace py = pybind11;

/// The Python object behind vmsg.Dictionary.
class Dictionary {
public:
    Dictionary(vmsg::Dictionary dict, std::string source);

    /// The library's dictionary: entries, names and records.
    const vmsg::Dictionary& tool() const { return mDict; }
    /// The library's records.
    const CarrowDictDef& def() const { return mDict.def(); }
    /// An endpoint on the records, for the library's lookups and checks
    /// (definition, check); it never queues anything.
    const vmsg::Endpoint& lookup() const { return mLookup; }
    /// The file name (or the name given with the text).
    const std::string& source() const { return mSource; }

private:
    vmsg::Dictionary mDict;
    std::string mSource;
    vmsg::Endpoint mLookup;
};

/// The Dictionary behind @p value.
/// @throws TypeError naming @p where when it is not a vmsg.Dictionary.
Dictionary& dictionaryArgument(py::handle value, const Where& where);

/// Adds vmsg.Dictionary, vmsg.Structure, vmsg.StructuredObject,
/// missing_tags and structure to @p module.
void defineDictionary(py::module_& module);

} // namespace vmsgpy

#endif
