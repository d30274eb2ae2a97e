// Parsing JSON while noting the line of every value, so that a complaint
// about the content of a file can point at its line.
#ifndef VMSG_SRC_DICTIONARY_JSONLINES_H
#define VMSG_SRC_DICTIONARY_JSONLINES_H

#include <nlohmann/json.hpp>

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace vmsg::detail {

/// The 1-based line of each value of a document, by its path: "" for the
/// root, "tags" for a member, "tags[2].type" deeper down.
using JsonLines = std::map<std::string, std::size_t>;

/// A text that is not JSON: where the parser stopped and what it expected.
struct JsonSyntaxError {
    unsigned line;
    unsigned column;
    std::string text;
};

/// Parses @p text and fills @p lines.
/// @param duplicateKeys when given, receives the path of every key that
///        an object repeats (the parser keeps its last value).
/// @throws JsonSyntaxError for a syntax error.
nlohmann::json parseJsonWithLines(std::string_view text, JsonLines& lines,
                                  std::vector<std::string>* duplicateKeys = nullptr);

} // namespace vmsg::detail

#endif
