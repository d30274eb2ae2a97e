/// @file
/// A message dictionary read at run time from its JSON file: the names of
/// messages, tags and objects, which tags each message needs and may carry,
/// and the CarrowDictDef records that Carrow, vmsg::Endpoint and
/// vmsg::structure read. The format is described in docs/dictionary.md.
///
///     const vmsg::Dictionary dict = vmsg::Dictionary::load("telemetry.json");
///     vmsg::Endpoint endpoint(dict.def());
///     std::cout << dict.tagName(2);   // "reading"
#ifndef VMSG_VDICTIONARY_H
#define VMSG_VDICTIONARY_H

#include <Carrow.h>
#include <VWire.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vmsg {

/// One thing wrong with a dictionary file.
struct DictionaryProblem {
    unsigned line;    ///< The line of the value, from 1; 0 when the file could not be read at all.
    std::string path; ///< Where, as a JSON path: "tags[2].type"; "" for the whole file.
    std::string text; ///< What is wrong and what was expected.
};

/// A dictionary that cannot be used: not readable, not JSON, or breaking
/// a rule of the format. what() holds every problem, one line each.
class VMSG_API DictionaryError : public std::runtime_error {
public:
    /// An error of the dictionary @p origin.
    /// @param origin   the file name or origin given to load or parse.
    /// @param problems every problem found; not empty.
    /// @param column   the column of a syntax error, from 1; 0 otherwise.
    DictionaryError(std::string origin, std::vector<DictionaryProblem> problems, unsigned column = 0);

    /// Every problem, by line, then path. Never empty.
    /// @return the problems.
    const std::vector<DictionaryProblem>& problems() const { return mProblems; }

    /// The file name or origin given to load or parse.
    /// @return the origin; "" when none was given.
    const std::string& origin() const { return mOrigin; }

    /// True when the text is not JSON at all (or the file could not be
    /// read); the one problem then tells where the parser stopped.
    /// @return whether the text could not be read as JSON.
    bool syntaxError() const { return mColumn != 0 || (mProblems.size() == 1 && mProblems[0].line == 0); }

    /// The column of a syntax error.
    /// @return the column, from 1; 0 when this is no syntax error.
    unsigned column() const { return mColumn; }

    /// Each problem as one line: "ORIGIN:LINE: PATH: text", or
    /// "ORIGIN:LINE:COLUMN: text" for a syntax error.
    /// @return the lines, as vmsg dict check prints them.
    std::vector<std::string> lines() const;

private:
    std::string mOrigin;
    std::vector<DictionaryProblem> mProblems;
    unsigned mColumn;
};

/// A checked dictionary. It owns its entries and the CarrowDictDef built on
/// them; def() stays valid, at the same address, as long as the dictionary
/// lives, also across moves. Immutable once built, so one dictionary may be
/// read from several threads at once.
class VMSG_API Dictionary {
public:
    /// A message entry.
    struct Message {
        unsigned char id; ///< The message id.
        std::string name; ///< Its name.
        std::vector<unsigned char> required; ///< Required tag ids, in the file's order.
        std::vector<unsigned char> optional; ///< Tags it may carry besides (closed messages).
        bool closed;                         ///< Lists "optional": a tag outside required and optional is unexpected.
        bool deprecated;                     ///< Marked "deprecated".
    };
    /// A tag entry.
    struct Tag {
        unsigned char id;    ///< The tag id.
        VTag::VTagType type; ///< Its wire type.
        std::string name;    ///< Its name.
        bool deprecated;     ///< Marked "deprecated".
    };
    /// A meta entry: the tag that opens an object.
    struct Meta {
        unsigned char id;                   ///< The meta tag's id.
        VTag::VTagType type;                ///< Its wire type.
        std::string name;                   ///< Its name.
        std::string object;                 ///< Name of the object the meta tag opens.
        std::vector<unsigned char> members; ///< Member tags of its objects, when listed.
        bool listsMembers;                  ///< The entry has "members" (even an empty list).
    };

    /// Reads and checks the file @p path.
    /// @param path the JSON file.
    /// @return the dictionary.
    /// @throws DictionaryError when it cannot be read or has problems.
    static Dictionary load(const std::string& path);

    /// Checks the JSON text @p json.
    /// @param json   the text of a dictionary file.
    /// @param origin the name used in problems (a file name); "" for none.
    /// @return the dictionary.
    /// @throws DictionaryError with every problem.
    static Dictionary parse(std::string_view json, std::string_view origin = {});

    /// Takes the entries of @p other, which is left empty; def() keeps
    /// its address.
    /// @param other the dictionary moved from.
    Dictionary(Dictionary&& other) noexcept;
    /// Takes the entries of @p other, which is left empty.
    /// @param other the dictionary moved from.
    /// @return this dictionary.
    Dictionary& operator=(Dictionary&& other) noexcept;
    /// Not copyable: share one dictionary by reference instead.
    Dictionary(const Dictionary&) = delete;
    /// Not copyable: share one dictionary by reference instead.
    Dictionary& operator=(const Dictionary&) = delete;
    /// Frees the entries and the CarrowDictDef.
    ~Dictionary();

    /// The records for Carrow, vmsg::Endpoint and vmsg::structure.
    /// @return the records, valid as long as the dictionary lives.
    const CarrowDictDef& def() const;

    /// The file's "name".
    /// @return the name, or "".
    const std::string& name() const;
    /// The file's "version".
    /// @return the version, or nothing when the file has none.
    std::optional<long long> version() const;

    /// The message entries.
    /// @return the entries, in the order of the file.
    const std::vector<Message>& messages() const;
    /// The tag entries.
    /// @return the entries, in the order of the file.
    const std::vector<Tag>& tags() const;
    /// The meta entries.
    /// @return the entries, in the order of the file.
    const std::vector<Meta>& metas() const;

    /// The message entry of an id.
    /// @param id the message id.
    /// @return the entry, or null when undefined.
    const Message* message(unsigned char id) const;
    /// The tag entry of an id.
    /// @param id the tag id.
    /// @return the entry, or null when undefined.
    const Tag* tag(unsigned char id) const;
    /// The meta entry of an id.
    /// @param id the meta tag's id.
    /// @return the entry, or null when undefined.
    const Meta* meta(unsigned char id) const;

    /// The name of a tag id (a meta tag's included).
    /// @param id the tag id.
    /// @return the name; empty when undefined.
    std::string_view tagName(unsigned char id) const;
    /// The name of a message id.
    /// @param id the message id.
    /// @return the name; empty when undefined.
    std::string_view messageName(unsigned char id) const;

    /// The id of a tag name.
    /// @param name the tag's name.
    /// @return the id; nothing when undefined.
    std::optional<unsigned char> tagId(std::string_view name) const;
    /// The id of a message name.
    /// @param name the message's name.
    /// @return the id; nothing when undefined.
    std::optional<unsigned char> messageId(std::string_view name) const;

    /// Whether message @p message may carry tag @p tag: always for an open
    /// or undefined message; for a closed one, when the tag is required,
    /// optional, or a member of an object whose meta tag is.
    /// @param message the message id.
    /// @param tag     the tag id.
    /// @return whether the tag is expected there.
    bool expects(unsigned char message, unsigned char tag) const;

    /// The ids of the tags of @p block (a whole block: id, flags, tags) that
    /// its message does not expect, in the order they stand, each once.
    /// Reading stops where the block stops parsing.
    /// @param block  the block's first byte.
    /// @param length the block's length.
    /// @return the unexpected tag ids; empty for an open or undefined message.
    std::vector<unsigned char> unexpectedTags(const void* block, std::size_t length) const;

private:
    struct Impl;
    explicit Dictionary(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> mImpl;
};

/// How a change between two versions of a dictionary affects a peer that
/// still has the old one.
enum class ChangeKind {
    Compatible, ///< A peer with the old version still understands the new one (reported).
    Breaking    ///< A peer with the old version misreads or refuses what the new one sends.
};

/// One difference between two versions of a dictionary.
struct DictionaryChange {
    ChangeKind kind;  ///< Compatible or breaking.
    std::string rule; ///< The rule it falls under: "message-removed", "tag-type-changed", ...
    std::string text; ///< The change in words: "tag 2 \"reading\" removed".
};

/// Every difference from @p older to @p newer: messages first, then tags,
/// then objects, each in the order of the files.
/// @param older the version a peer still has.
/// @param newer the new version.
/// @return the changes; empty when the two mean the same.
VMSG_API std::vector<DictionaryChange> compare(const Dictionary& older, const Dictionary& newer);

} // namespace vmsg

#endif
