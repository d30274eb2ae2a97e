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
    DictionaryError(std::string origin, std::vector<DictionaryProblem> problems, unsigned column = 0);

    /// Every problem, by line, then path. Never empty.
    const std::vector<DictionaryProblem>& problems() const { return mProblems; }

    /// The file name or origin given to load or parse.
    const std::string& origin() const { return mOrigin; }

    /// True when the text is not JSON at all (or the file could not be
    /// read); the one problem then tells where the parser stopped.
    bool syntaxError() const { return mColumn != 0 || (mProblems.size() == 1 && mProblems[0].line == 0); }

    /// The column of a syntax error, from 1; 0 otherwise.
    unsigned column() const { return mColumn; }

    /// Each problem as one line: "ORIGIN:LINE: PATH: text", or
    /// "ORIGIN:LINE:COLUMN: text" for a syntax error.
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
    struct Message {
        unsigned char id;
        std::string name;
        std::vector<unsigned char> required; ///< Required tag ids, in the file's order.
        std::vector<unsigned char> optional; ///< Tags it may carry besides (closed messages).
        bool closed;                         ///< Lists "optional": a tag outside required and optional is unexpected.
        bool deprecated;
    };
    struct Tag {
        unsigned char id;
        VTag::VTagType type;
        std::string name;
        bool deprecated;
    };
    struct Meta {
        unsigned char id;
        VTag::VTagType type;
        std::string name;
        std::string object;                 ///< Name of the object the meta tag opens.
        std::vector<unsigned char> members; ///< Member tags of its objects, when listed.
        bool listsMembers;                  ///< The entry has "members" (even an empty list).
    };

    /// Reads and checks the file @p path.
    /// @throws DictionaryError when it cannot be read or has problems.
    static Dictionary load(const std::string& path);

    /// Checks the JSON text @p json.
    /// @param origin the name used in problems (a file name); "" for none.
    /// @throws DictionaryError with every problem.
    static Dictionary parse(std::string_view json, std::string_view origin = {});

    Dictionary(Dictionary&& other) noexcept;
    Dictionary& operator=(Dictionary&& other) noexcept;
    Dictionary(const Dictionary&) = delete;
    Dictionary& operator=(const Dictionary&) = delete;
    ~Dictionary();

    /// The records for Carrow, vmsg::Endpoint and vmsg::structure.
    const CarrowDictDef& def() const;

    /// The file's "name", or "".
    const std::string& name() const;
    /// The file's "version", or nothing.
    std::optional<long long> version() const;

    /// The entries, in the order of the file.
    const std::vector<Message>& messages() const;
    const std::vector<Tag>& tags() const;
    const std::vector<Meta>& metas() const;

    /// The entry with @p id, or null.
    const Message* message(unsigned char id) const;
    const Tag* tag(unsigned char id) const;
    const Meta* meta(unsigned char id) const;

    /// The name of a tag or message id; empty when undefined.
    std::string_view tagName(unsigned char id) const;
    std::string_view messageName(unsigned char id) const;

    /// The id of a tag or message name; nothing when undefined.
    std::optional<unsigned char> tagId(std::string_view name) const;
    std::optional<unsigned char> messageId(std::string_view name) const;

    /// Whether message @p message may carry tag @p tag: always for an open
    /// or undefined message; for a closed one, when the tag is required,
    /// optional, or a member of an object whose meta tag is.
    bool expects(unsigned char message, unsigned char tag) const;

    /// The ids of the tags of @p block (a whole block: id, flags, tags) that
    /// its message does not expect, in the order they stand, each once.
    /// Reading stops where the block stops parsing.
    std::vector<unsigned char> unexpectedTags(const void* block, std::size_t length) const;

private:
    struct Impl;
    explicit Dictionary(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> mImpl;
};

/// How a change between two versions of a dictionary affects a peer that
/// still has the old one.
enum class ChangeKind { Compatible, Breaking };

/// One difference between two versions of a dictionary.
struct DictionaryChange {
    ChangeKind kind;
    std::string rule; ///< The rule it falls under: "message-removed", "tag-type-changed", ...
    std::string text; ///< The change in words: "tag 2 \"reading\" removed".
};

/// Every difference from @p older to @p newer: messages first, then tags,
/// then objects, each in the order of the files.
VMSG_API std::vector<DictionaryChange> compare(const Dictionary& older, const Dictionary& newer);

} // namespace vmsg

#endif
