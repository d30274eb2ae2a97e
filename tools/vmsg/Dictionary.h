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
    /// ids per message) and builds the records on them.
    Dictionary(std::vector<Message> messages, std::vector<Tag> tags, std::vector<Meta> metas);
    Dictionary(const Dictionary&) = delete;
    Dictionary& operator=(const Dictionary&) = delete;

    /// The records for Carrow and CarrowMessage; valid while this lives.
    const CarrowDictDef& def() const { return mDef; }

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

/// Reads a dictionary from JSON text:
///
///     { "messages": [ {"id": 16, "name": "telemetry", "required": ["device", 2]} ],
///       "tags":     [ {"id": 1, "name": "device", "type": "u32"} ],
///       "meta":     [ {"id": 32, "name": "sensor", "type": "u8", "object": "Sensor"} ] }
///
/// Every list is optional. Ids are integers from 0 to 255; a required tag
/// is a tag id or the name of an entry of "tags"; types are the names of
/// typeName. A meta entry's type defaults to the type of the tag with the
/// same id (else null), its object name to its name. Unknown keys and
/// duplicate ids are refused.
/// @param source the file name used in errors.
/// @throws UsageError "SOURCE:LINE: PATH: expected ..., found ..." for a
///         content error, "SOURCE:LINE:COLUMN: ..." for a syntax error.
std::unique_ptr<Dictionary> parseDictionary(std::string_view text, const std::string& source);

/// parseDictionary on the content of the file @p path.
/// @throws UsageError also when the file cannot be read.
std::unique_ptr<Dictionary> loadDictionary(const std::string& path);

} // namespace vmsgtool

#endif
