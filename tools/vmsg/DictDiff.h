// The report of `vmsg dict diff`: the changes vmsg::compare finds, as text
// lines or as a JSON document.
#ifndef VMSG_TOOL_DICTDIFF_H
#define VMSG_TOOL_DICTDIFF_H

#include <VDictionary.h>

#include <string>
#include <vector>

namespace vmsgtool {

/// One line per change, "breaking    tag-removed         tag 2 ...", and a
/// summary line naming both files.
std::string diffText(const std::vector<vmsg::DictionaryChange>& changes, const std::string& older,
                     const std::string& newer);

/// {"old", "new", "breaking": N, "compatible": N, "changes": [{"kind", "rule", "text"}]}.
std::string diffJson(const std::vector<vmsg::DictionaryChange>& changes, const std::string& older,
                     const std::string& newer);

} // namespace vmsgtool

#endif
