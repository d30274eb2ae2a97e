// What the checker hands to vmsg::Dictionary: the entries of a file that
// holds, or its problems.
#ifndef VMSG_SRC_DICTIONARY_MODEL_H
#define VMSG_SRC_DICTIONARY_MODEL_H

#include <VDictionary.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vmsg::detail {

/// The entries of a checked file, in the order of the file.
struct Entries {
    using Message = Dictionary::Message;
    using Tag = Dictionary::Tag;
    using Meta = Dictionary::Meta;
    std::string name;
    std::optional<long long> version;
    std::vector<Message> messages;
    std::vector<Tag> tags;
    std::vector<Meta> metas;
};

/// The outcome of checking a dictionary text.
struct CheckResult {
    std::optional<Entries> entries;          ///< Set when there is no problem.
    std::vector<DictionaryProblem> problems; ///< Every problem, by line, then path.
};

/// Checks @p text against the rules of the dictionary format
/// (docs/dictionary.md). Every list is optional and holds at most 255
/// entries; ids are 0 to 255, unique within their list; names are
/// identifiers, unique among the messages and among the tags; a required
/// or optional tag, and an object's member, is a tag id or name of
/// "tags"; a meta tag is also a tag. Unknown and repeated keys are refused.
/// @throws JsonSyntaxError when the text is not JSON.
CheckResult checkDictionary(std::string_view text);

} // namespace vmsg::detail

#endif
