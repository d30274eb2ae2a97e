// Generating C++ from a checked dictionary: the CarrowDictDef with all its
// records, named constants for every message and tag id, constexpr names of
// the ids, a typed view of each object whose members the dictionary lists,
// and for every message a typed builder and a typed reader over the modern
// layer.
#ifndef VMSG_TOOL_GENERATE_H
#define VMSG_TOOL_GENERATE_H

#include <VDictionary.h>

#include <string>

namespace vmsgtool {

using vmsg::Dictionary;

/// How the header is named and wrapped.
struct GenerateOptions {
    std::string source;        ///< The dictionary file, named in the header's first line.
    std::string nameSpace;     ///< The namespace of everything generated (may be nested: "a::b").
    std::string includeGuard;  ///< The include guard macro.
};

/// The header for @p dict.
std::string generateHeader(const Dictionary& dict, const GenerateOptions& options);

/// The identifier a dictionary name becomes in C++: the name itself, with
/// '_' appended to C++ keywords, to the macros of the headers the generated
/// code includes (NULL, errno, linux, ...) and to the names the generated
/// classes use themselves (build, isMessage, stop, missingTags, count, take,
/// Builder, Reader, the private members builder_, tags_, counts_, id_,
/// stop_, objects_, and the types VTag and VMsg). A message's namespace and
/// an object's class are not named std or vmsg either.
std::string identifier(const std::string& name);

/// A namespace of the generated code: as identifier(), and not std, vmsg,
/// log4cpp or a global name of the library's headers (VTag, Carrow, ...).
std::string namespaceIdentifier(std::string name);

/// A namespace and include guard from a file name: "telemetry-v2.json"
/// gives the namespace "telemetry_v2" and "TELEMETRY_V2_H".
GenerateOptions defaultOptions(const std::string& dictionaryPath, const std::string& headerPath);

} // namespace vmsgtool

#endif
