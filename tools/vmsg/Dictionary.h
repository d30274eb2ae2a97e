// A message dictionary read from JSON, turned into the library's plain
// CarrowDictDef records and kept alive alongside the names they point to.
#ifndef VMSG_TOOL_DICTIONARY_H
#define VMSG_TOOL_DICTIONARY_H

#include <Carrow.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vmsgtool {

/// The dictionary's entries and the CarrowDictDef built on them. The
/// records point into this object's vectors and strings, so it can be
/// neither copied nor moved; hold it by unique_ptr and keep it alive while
/// an endpoint or a structured message uses def().
class Dictionary {
public:
    struct Message {
        unsigned char id;
        std::string name;
        std::vector<unsigned char> required; ///< Required tag ids, in order.
    };
    struct Tag {
        unsigned char id;
        VTag::VTagType type;
        std::string name;
    };
    struct Meta {
        unsigned char id;
        VTag::VTagType type;
        std::string name;
        std::string object; ///< Name of the object the meta tag opens.
    };

    /// Takes the entries (at most 255 of each kind, at most 255 required
    /// ids per message) and builds the records on them; checkDictionary
    /// makes them.
    Dictionary(std::vector<Message> messages, std::vector<Tag> tags, std::vector<Meta> metas);
    Dictionary(const Dictionary&) = delete;
    Dictionary& operator=(const Dictionary&) = delete;

    /// The records for Carrow and CarrowMessage; valid while this lives.
    const CarrowDictDef& def() const { return mDef; }

    /// The entries, in the order of the file.
    const std::vector<Message>& messages() const { return mMessages; }
    const std::vector<Tag>& tags() const { return mTags; }
    const std::vector<Meta>& metas() const { return mMetas; }

    /// The first entry with @p id, or null.
    const Message* message(unsigned char id) const;
    const Tag* tag(unsigned char id) const;
    const Meta* meta(unsigned char id) const;

private:
    std::vector<Message> mMessages;
    std::vector<Tag> mTags;
    std::vector<Meta> mMetas;
    std::vector<CarrowMsgDef> mMsgDefs;
    std::vector<CarrowTagDef> mTagDefs;
    std::vector<CarrowMetaDef> mMetaDefs;
    CarrowDictDef mDef;
};

/// One thing wrong with a dictionary file.
struct DictionaryProblem {
    std::string path;    ///< Where, as a JSON path: "tags[2].type"; "" for the whole file.
    std::size_t line;    ///< The line of that value, from 1.
    std::string message; ///< What is wrong and what was expected.
};

/// The outcome of checking a dictionary file.
struct DictionaryCheck {
    std::unique_ptr<Dictionary> dictionary;  ///< The dictionary; null when there are problems.
    std::vector<DictionaryProblem> problems; ///< Every problem, by line, then path.
};

/// Checks a dictionary in JSON text against the rules of the dictionary
/// format (docs/dictionary.md) and, when it holds, builds it:
///
///     { "messages": [ {"id": 16, "name": "telemetry", "required": ["device", 2]} ],
///       "tags":     [ {"id": 1, "name": "device", "type": "u32"} ],
///       "meta":     [ {"id": 32, "object": "Sensor"} ] }
///
/// Every list is optional and holds at most 255 entries. Ids are integers
/// from 0 to 255, unique within their list; names are identifiers (a
/// letter or '_', then letters, digits or '_'), unique among the messages
/// and among the tags; types are the names of the type table. A required
/// tag is a tag id or name of an entry of "tags". A meta tag is also a tag:
/// its id must be in "tags", and a "name" or "type" it gives must be that
/// tag's; its object name defaults to the tag's name. Unknown and repeated
/// keys are refused.
/// @param source the file name used in a syntax error.
/// @throws UsageError "SOURCE:LINE:COLUMN: ..." for a syntax error.
DictionaryCheck checkDictionary(std::string_view text, const std::string& source);

/// A problem as one line: "SOURCE:LINE: PATH: message".
std::string problemText(const DictionaryProblem& problem, const std::string& source);

/// checkDictionary, for callers that need the dictionary.
/// @throws UsageError the first problem (problemText), or a syntax error.
std::unique_ptr<Dictionary> parseDictionary(std::string_view text, const std::string& source);

/// parseDictionary on the content of the file @p path.
/// @throws UsageError also when the file cannot be read.
std::unique_ptr<Dictionary> loadDictionary(const std::string& path);

} // namespace vmsgtool

#endif
