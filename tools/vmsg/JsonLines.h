// Parsing JSON while noting the line of every value, so that a complaint
// about the content of a file can point at its line.
#ifndef VMSG_TOOL_JSONLINES_H
#define VMSG_TOOL_JSONLINES_H

#include <nlohmann/json.hpp>

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace vmsgtool {

/// The 1-based line of each value of a document, by its path: "" for the
/// root, "tags" for a member, "tags[2].type" deeper down.
using JsonLines = std::map<std::string, std::size_t>;

/// Parses @p text and fills @p lines.
/// @param source the file name used in errors.
/// @param duplicateKeys when given, receives the path of every key that
///        an object repeats (the parser keeps its last value).
/// @throws UsageError "SOURCE:LINE:COLUMN: what the parser expected" for a
///         syntax error.
nlohmann::json parseJsonWithLines(std::string_view text, const std::string& source, JsonLines& lines,
                                  std::vector<std::string>* duplicateKeys = nullptr);

} // namespace vmsgtool

#endif
