#include "Generate.h"

#include "TagText.h"

#include <VWire.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <sstream>

namespace vmsgtool {

namespace {

// C++17 keywords and alternative tokens: a name among them cannot be used
// as it is.
const std::set<std::string>& keywords()
{
    static const std::set<std::string> words = {
#include "MacroNames.inc"
        // constinit: a keyword of C++20 that g++'s -Wall warns about.
        "constinit",
        "alignas", "alignof", "and", "and_eq", "asm", "auto", "bitand", "bitor", "bool", "break", "case", "catch",
        "char", "char16_t", "char32_t", "class", "compl", "const", "constexpr", "const_cast", "continue",
        "decltype", "default", "delete", "do", "double", "dynamic_cast", "else", "enum", "explicit", "export",
        "extern", "false", "float", "for", "friend", "goto", "if", "inline", "int", "long", "mutable",
        "namespace", "new", "noexcept", "not", "not_eq", "nullptr", "operator", "or", "or_eq", "private",
        "protected", "public", "register", "reinterpret_cast", "return", "short", "signed", "sizeof", "static",
        "static_assert", "static_cast", "struct", "switch", "template", "this", "thread_local", "throw", "true",
        "try", "typedef", "typeid", "typename", "union", "unsigned", "using", "virtual", "void", "volatile",
        "wchar_t", "while", "xor", "xor_eq",
        // Names the generated code itself uses in the scopes where tag and
        // message names go.
        "build", "isMessage", "stop", "missingTags", "count", "take", "Builder", "Reader",
        "builder_", "tags_", "counts_", "id_", "stop_", "objects_",
        // Types the generated classes name unqualified: a member function
        // of that name would hide them.
        "VTag", "VMsg"};
    return words;
}

// The name of a message's namespace or an object's class: as identifier(),
// and not a namespace the generated code names unqualified inside them.
std::string scopeIdentifier(const std::string& name)
{
    std::string out = identifier(name);
    while (out == "std" || out == "vmsg")
        out += "_";
    return out;
}

struct TypeCode {
    const char* cpp;        // the C++ type of a value ("std::uint32_t"), null for null and bytes
    const char* builder;    // the vmsg::MessageBuilder call
    const char* accessor;   // the vmsg accessor: "value<std::uint32_t>", "text", "bytes"
};

TypeCode codeOf(VTag::VTagType type)
{
    switch (type) {
    case VTag::TagNull: return {nullptr, "null", nullptr};
    case VTag::TagString: return {"std::string_view", "text", "text"};
    case VTag::TagUInt32: return {"std::uint32_t", "u32", "value<std::uint32_t>"};
    case VTag::TagUInt16: return {"std::uint16_t", "u16", "value<std::uint16_t>"};
    case VTag::TagUInt8: return {"std::uint8_t", "u8", "value<std::uint8_t>"};
    case VTag::TagBytes: return {nullptr, "bytes", "bytes"};
    case VTag::TagFloat: return {"float", "f32", "value<float>"};
    }
    return {nullptr, "null", nullptr};
}

const char* enumerator(VTag::VTagType type)
{
    switch (type) {
    case VTag::TagNull: return "VTag::TagNull";
    case VTag::TagString: return "VTag::TagString";
    case VTag::TagUInt32: return "VTag::TagUInt32";
    case VTag::TagUInt16: return "VTag::TagUInt16";
    case VTag::TagUInt8: return "VTag::TagUInt8";
    case VTag::TagBytes: return "VTag::TagBytes";
    case VTag::TagFloat: return "VTag::TagFloat";
    }
    return "VTag::TagNull";
}

// A C string literal of an identifier (letters, digits, '_'): no escapes needed.
std::string literal(const std::string& text)
{
    return "\"" + text + "\"";
}

// The C++ name of each entry of one scope, by id: @p rename(name), made
// unique. A name that @p rename leaves as it is keeps it; one it changes
// (a keyword, a name the generated code uses) gets '_' appended until no
// other entry has it, so that "int" and "int_" become "int__" and "int_".
template <typename Entries, typename Rename>
std::map<unsigned char, std::string> uniqueIdentifiers(const Entries& entries, Rename rename)
{
    std::set<std::string> taken;
    for (const auto& entry : entries) {
        if (rename(entry.name) == entry.name)
            taken.insert(entry.name);
    }
    std::map<unsigned char, std::string> out;
    for (const auto& entry : entries) {
        std::string name = rename(entry.name);
        if (name != entry.name) {
            while (!taken.insert(name).second) {
                name += "_";
                name = rename(name);
            }
        }
        out.emplace(entry.id, std::move(name));
    }
    return out;
}

// Writes the header, line by line.
class HeaderWriter {
public:
    HeaderWriter(const Dictionary& dict, const GenerateOptions& options)
        : mDict(dict), mOptions(options), mQualified("::" + options.nameSpace),
          mTagNames(uniqueIdentifiers(dict.tags(), identifier)),
          mMessageNames(uniqueIdentifiers(dict.messages(), identifier)),
          mMessageScopes(uniqueIdentifiers(dict.messages(), scopeIdentifier))
    {
    }

    std::string write()
    {
        prologue();
        tagIds();
        records();
        names();
        objects();
        for (std::size_t i = 0; i < mDict.messages().size(); ++i)
            message(mDict.messages()[i]);
        epilogue();
        return mOut.str();
    }

private:
    void prologue()
    {
        mOut << "// Generated by `vmsg dict gen` from " << mOptions.source << ". Do not edit: change the\n"
             << "// dictionary and generate again.\n"
             << "#ifndef " << mOptions.includeGuard << "\n#define " << mOptions.includeGuard << "\n\n"
             << "#include <vmsg.hpp>\n\n"
             << "#include <array>\n#include <cstddef>\n#include <cstdint>\n#include <memory>\n"
             << "#include <optional>\n#include <string_view>\n#include <vector>\n\n"
             << "namespace " << mOptions.nameSpace << " {\n\n";
    }

    void epilogue() { mOut << "} // namespace " << mOptions.nameSpace << "\n\n#endif\n"; }

    void tagIds()
    {
        mOut << "/// Tag ids, by name.\nnamespace tags {\n";
        for (const Dictionary::Tag& tag : mDict.tags())
            mOut << "inline constexpr unsigned char " << name(tag) << " = " << unsigned{tag.id}
                 << "; ///< " << typeName(tag.type) << (mDict.meta(tag.id) ? ", opens an object" : "")
                 << (tag.deprecated ? ", deprecated" : "") << "\n";
        mOut << "} // namespace tags\n\n";
    }

    void records()
    {
        const auto& messages = mDict.messages();
        const auto& tags = mDict.tags();
        const auto& metas = mDict.metas();
        mOut << "/// The records behind the dictionary.\nnamespace detail {\n";
        for (const Dictionary::Message& m : messages) {
            if (m.required.empty())
                continue;
            mOut << "inline constexpr unsigned char " << mMessageNames.at(m.id) << "_required[] = {";
            for (std::size_t i = 0; i < m.required.size(); ++i)
                mOut << (i ? ", " : "") << unsigned{m.required[i]};
            mOut << "};\n";
        }
        if (!messages.empty()) {
            mOut << "inline constexpr CarrowMsgDef messages[] = {\n";
            for (const Dictionary::Message& m : messages)
                mOut << "    {" << unsigned{m.id} << ", " << m.required.size() << ", "
                     << (m.required.empty() ? "nullptr" : mMessageNames.at(m.id) + "_required") << "},\n";
            mOut << "};\n";
        }
        if (!tags.empty()) {
            mOut << "inline constexpr CarrowTagDef tags[] = {\n";
            for (const Dictionary::Tag& t : tags)
                mOut << "    {" << unsigned{t.id} << ", " << enumerator(t.type) << ", " << literal(t.name) << "},\n";
            mOut << "};\n";
        }
        if (!metas.empty()) {
            mOut << "inline constexpr CarrowMetaDef metas[] = {\n";
            for (const Dictionary::Meta& m : metas)
                mOut << "    {" << unsigned{m.id} << ", " << enumerator(m.type) << ", " << literal(m.name) << ", "
                     << literal(m.object) << "},\n";
            mOut << "};\n";
        }
        mOut << "} // namespace detail\n\n"
             << "/// The dictionary: " << messages.size() << " message(s), " << tags.size() << " tag(s), "
             << metas.size() << " meta tag(s). For Carrow, vmsg::Endpoint and vmsg::structure.\n"
             << "inline constexpr CarrowDictDef dictionary = {{0, 0}, " << messages.size() << ", " << tags.size()
             << ", " << metas.size() << ", " << (messages.empty() ? "nullptr" : "detail::messages") << ", "
             << (tags.empty() ? "nullptr" : "detail::tags") << ", " << (metas.empty() ? "nullptr" : "detail::metas")
             << "};\n\n";
    }

    // tagName and messageName: constexpr switches, so that a name is there
    // at compile time too and an undefined id gives null.
    void names()
    {
        mOut << "/// The name of tag @p id (a meta tag's included); null when the dictionary does not define it.\n"
             << "constexpr const char* tagName(unsigned char id)\n{\n";
        nameSwitch(mDict.tags());
        mOut << "\n/// The name of message @p id; null when the dictionary does not define it.\n"
             << "constexpr const char* messageName(unsigned char id)\n{\n";
        nameSwitch(mDict.messages());
        mOut << "\n";
    }

    template <typename Entries>
    void nameSwitch(const Entries& entries)
    {
        if (entries.empty()) {
            mOut << "    static_cast<void>(id);\n    return nullptr;\n}\n";
            return;
        }
        mOut << "    switch (id) {\n";
        for (const auto& entry : entries)
            mOut << "    case " << unsigned{entry.id} << ": return " << literal(entry.name) << ";\n";
        mOut << "    default: return nullptr;\n    }\n}\n";
    }

    // The typed view of one kind of object: the class name and its members
    // in the order the meta entry lists them. A member that is itself a
    // meta tag is left out: it always opens an object of its own.
    struct ObjectClass {
        std::string name;
        std::vector<const Dictionary::Tag*> members;
    };

    // A class per meta entry that lists its members (even none). The class
    // is named after the object; a name that one of its own accessors
    // (or an earlier class) has gets '_' appended, as a class cannot have
    // a member function of its own name.
    void objects()
    {
        std::set<std::string> classNames;
        for (const Dictionary::Meta& meta : mDict.metas()) {
            if (!meta.listsMembers)
                continue;
            ObjectClass object;
            std::set<std::string> accessors = {mTagNames.at(meta.id)};
            for (unsigned char id : meta.members) {
                if (mDict.meta(id))
                    continue;
                object.members.push_back(mDict.tag(id));
                accessors.insert(name(*mDict.tag(id)));
            }
            object.name = scopeIdentifier(meta.object);
            while (classNames.count(object.name) || accessors.count(object.name) || keywords().count(object.name))
                object.name += "_";
            classNames.insert(object.name);
            mObjects.emplace(meta.id, std::move(object));
        }
        if (mObjects.empty())
            return;
        mOut << "/// The objects of the messages, read typed: each one a view of an object's meta tag and the\n"
             << "/// member tags after it, valid as long as the message or block it was read from.\n"
             << "namespace objects {\n\n";
        for (const Dictionary::Meta& meta : mDict.metas()) {
            if (meta.listsMembers)
                objectClass(meta, mObjects.at(meta.id));
        }
        mOut << "} // namespace objects\n\n";
    }

    void objectClass(const Dictionary::Meta& meta, const ObjectClass& object)
    {
        const Dictionary::Tag& opener = *mDict.tag(meta.id);
        const std::size_t slots = object.members.size() + 1;
        mOut << "/// A " << meta.object << " object: opened by tag " << unsigned{meta.id} << " \"" << meta.name
             << "\" (" << typeName(meta.type) << ")";
        if (!object.members.empty()) {
            mOut << "; members";
            for (const Dictionary::Tag* member : object.members)
                mOut << " " << member->name;
        }
        mOut << ".\nclass " << object.name << " {\npublic:\n"
             << "    /// The object that the meta tag @p meta opens, without members yet.\n"
             << "    explicit " << object.name << "(const vmsg::TagView& meta) { tags_[0] = meta; }\n"
             << "    /// Takes @p tag into the object when it is one of its members.\n"
             << "    /// @return whether it is a member (and now the object's).\n"
             << "    bool take(const vmsg::TagView& tag)\n    {\n";
        if (object.members.empty()) {
            mOut << "        static_cast<void>(tag);\n        return false;\n    }\n";
        } else {
            mOut << "        switch (tag.id) {\n";
            for (std::size_t i = 0; i < object.members.size(); ++i)
                mOut << "        case " << unsigned{object.members[i]->id} << ":\n            ++counts_[" << i + 1
                     << "];\n            if (!tags_[" << i + 1 << "])\n                tags_[" << i + 1
                     << "] = tag;\n            return true;\n";
            mOut << "        default:\n            return false;\n        }\n    }\n";
        }
        mOut << "    /// The number of tags with id @p tagId in the object: 1 for its meta tag, 0 for a tag\n"
             << "    /// that is not one of its members.\n"
             << "    std::size_t count(unsigned char tagId) const\n    {\n        switch (tagId) {\n"
             << "        case " << unsigned{meta.id} << ": return 1;\n";
        for (std::size_t i = 0; i < object.members.size(); ++i)
            mOut << "        case " << unsigned{object.members[i]->id} << ": return counts_[" << i + 1 << "];\n";
        mOut << "        default: return 0;\n        }\n    }\n";
        accessor(opener, 0, "Its meta tag " + std::to_string(meta.id));
        for (std::size_t i = 0; i < object.members.size(); ++i)
            accessor(*object.members[i], i + 1, "Member tag " + std::to_string(object.members[i]->id));
        mOut << "\nprivate:\n    std::array<std::optional<vmsg::TagView>, " << slots << "> tags_{};\n"
             << "    std::array<std::size_t, " << slots << "> counts_{};\n};\n\n";
    }

    // A typed accessor of the tag in tags_[index]: "/// WHAT (type)." and
    // the function, [[deprecated]] for a deprecated tag.
    void accessor(const Dictionary::Tag& tag, std::size_t index, const std::string& what)
    {
        const TypeCode code = codeOf(tag.type);
        const std::string& name = this->name(tag);
        mOut << "    /// " << what << " (" << typeName(tag.type) << ").\n    " << deprecation(tag);
        if (tag.type == VTag::TagNull) {
            mOut << "bool " << name << "() const { return tags_[" << index << "] && tags_[" << index
                 << "]->type == VTag::TagNull; }\n";
        } else {
            const std::string type = tag.type == VTag::TagBytes ? "std::string_view" : std::string(code.cpp);
            mOut << "std::optional<" << type << "> " << name << "() const\n    {\n        return tags_[" << index
                 << "] ? vmsg::" << code.accessor << "(*tags_[" << index << "]) : std::nullopt;\n    }\n";
        }
    }

    static std::string deprecation(const Dictionary::Tag& tag)
    {
        return tag.deprecated ? "[[deprecated(\"tag " + std::to_string(tag.id) + " " + tag.name +
                                    " is deprecated in the dictionary\")]] "
                              : std::string();
    }

    static std::string deprecation(const Dictionary::Message& m)
    {
        return m.deprecated ? "[[deprecated(\"message " + std::to_string(m.id) + " " + m.name +
                                  " is deprecated in the dictionary\")]] "
                            : std::string();
    }

    // The tags a closed message lists: required and optional.
    static std::set<unsigned char> listed(const Dictionary::Message& m)
    {
        std::set<unsigned char> ids(m.required.begin(), m.required.end());
        ids.insert(m.optional.begin(), m.optional.end());
        return ids;
    }

    // The tags a message's Reader gives by name: every tag of the
    // dictionary for an open message, the listed ones for a closed one.
    std::vector<const Dictionary::Tag*> readable(const Dictionary::Message& m) const
    {
        const std::set<unsigned char> ids = listed(m);
        std::vector<const Dictionary::Tag*> out;
        for (const Dictionary::Tag& tag : mDict.tags()) {
            if (!m.closed || ids.count(tag.id))
                out.push_back(&tag);
        }
        return out;
    }

    // The tags a message's Builder adds: for a closed message the listed
    // ones and the members of the objects they open, as the dictionary
    // expects them in it.
    std::vector<const Dictionary::Tag*> buildable(const Dictionary::Message& m) const
    {
        std::vector<const Dictionary::Tag*> out;
        for (const Dictionary::Tag& tag : mDict.tags()) {
            if (mDict.expects(m.id, tag.id))
                out.push_back(&tag);
        }
        return out;
    }

    // The objects a message's Reader reads typed: those of every meta entry
    // with members in an open message, those whose meta tag a closed one
    // lists.
    std::vector<const Dictionary::Meta*> carried(const Dictionary::Message& m) const
    {
        const std::set<unsigned char> ids = listed(m);
        std::vector<const Dictionary::Meta*> out;
        for (const Dictionary::Meta& meta : mDict.metas()) {
            if (meta.listsMembers && (!m.closed || ids.count(meta.id)))
                out.push_back(&meta);
        }
        return out;
    }

    // "sensors" for "Sensor": the name of a Reader's accessor of objects.
    static std::string plural(const std::string& object)
    {
        std::string out = object;
        out[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(out[0])));
        const auto endsWith = [&](const char* tail) {
            const std::string end = tail;
            return out.size() >= end.size() && out.compare(out.size() - end.size(), end.size(), end) == 0;
        };
        if (endsWith("s") || endsWith("x") || endsWith("z") || endsWith("ch") || endsWith("sh"))
            return out + "es";
        if (out.size() > 1 && out.back() == 'y' && !std::strchr("aeiou", out[out.size() - 2]))
            return out.substr(0, out.size() - 1) + "ies";
        return out + "s";
    }

    std::string messageScope(const Dictionary::Message& m) const
    {
        return mQualified + "::messages::" + mMessageScopes.at(m.id);
    }

    std::string tagId(const Dictionary::Tag& tag) const
    {
        return mQualified + "::tags::" + name(tag);
    }

    // The constructor's parameters for the required tags, each name used
    // once: one per value, two (data and size) per raw-bytes tag, none for
    // a null tag.
    struct Parameter {
        std::string type;
        std::string name;
    };

    struct RequiredTag {
        const Dictionary::Tag* tag;
        std::vector<Parameter> parameters;
    };

    std::vector<RequiredTag> requiredTags(const Dictionary::Message& m) const
    {
        std::vector<RequiredTag> out;
        std::set<std::string> used;
        auto unique = [&](std::string name) {
            while (!used.insert(name).second || keywords().count(name))
                name += "_";
            return name;
        };
        for (unsigned char id : m.required) {
            const Dictionary::Tag* tag = mDict.tag(id);
            RequiredTag required{tag, {}};
            if (tag->type == VTag::TagBytes) {
                required.parameters.push_back({"const void*", unique(tag->name + "_data")});
                required.parameters.push_back({"std::size_t", unique(tag->name + "_size")});
            } else if (tag->type != VTag::TagNull) {
                required.parameters.push_back({codeOf(tag->type).cpp, unique(name(*tag))});
            }
            out.push_back(std::move(required));
        }
        return out;
    }

    void builder(const Dictionary::Message& m)
    {
        const std::vector<RequiredTag> required = requiredTags(m);
        std::vector<Parameter> parameters;
        for (const RequiredTag& r : required)
            parameters.insert(parameters.end(), r.parameters.begin(), r.parameters.end());
        mOut << "/// Builds a " << m.name << " message: the required tags first, in the dictionary's order,\n"
             << "/// then the tags the calls add, in the order of the calls.\n";
        if (m.closed)
            mOut << "/// The calls add the tags the message may carry: its own and the members of the objects\n"
                 << "/// these open.\n";
        mOut << "class " << deprecation(m) << "Builder {\npublic:\n    " << (parameters.size() == 1 ? "explicit " : "")
             << "Builder(";
        for (std::size_t i = 0; i < parameters.size(); ++i)
            mOut << (i ? ", " : "") << parameters[i].type << " " << parameters[i].name;
        mOut << ") : builder_(" << messageScope(m) << "::id)\n    {\n";
        for (const RequiredTag& r : required) {
            mOut << "        builder_." << codeOf(r.tag->type).builder << "(" << tagId(*r.tag);
            for (const Parameter& p : r.parameters)
                mOut << ", " << p.name;
            mOut << ");\n";
        }
        mOut << "    }\n";
        for (const Dictionary::Tag* added : buildable(m)) {
            const Dictionary::Tag& tag = *added;
            const TypeCode code = codeOf(tag.type);
            const std::string& name = this->name(tag);
            mOut << "    /// Adds tag " << unsigned{tag.id} << " (" << typeName(tag.type) << ")"
                 << (mDict.meta(tag.id) ? ", which opens an object" : "") << ".\n    " << deprecation(tag)
                 << "Builder& " << name;
            if (tag.type == VTag::TagNull)
                mOut << "()\n    {\n        builder_.null(" << tagId(tag) << ");\n";
            else if (tag.type == VTag::TagBytes)
                mOut << "(const void* data, std::size_t size)\n    {\n        builder_.bytes(" << tagId(tag)
                     << ", data, size);\n";
            else
                mOut << "(" << code.cpp << " value)\n    {\n        builder_." << code.builder << "(" << tagId(tag)
                     << ", value);\n";
            mOut << "        return *this;\n    }\n";
        }
        mOut << "    /// The message, owned by the caller.\n"
             << "    std::unique_ptr<VMsg> build() { return builder_.build(); }\n\n"
             << "private:\n    vmsg::MessageBuilder builder_;\n};\n\n";
    }

    void reader(const Dictionary::Message& m)
    {
        const std::vector<const Dictionary::Tag*> tags = readable(m);
        const std::vector<const Dictionary::Meta*> typed = carried(m);
        if (!m.closed && typed.empty()) {
            mOut << "/// Reads a " << m.name << " message, from a VMsg or in place from a block: each tag of the\n"
                 << "/// dictionary by its name, with its type (the first tag of that id; empty when it is\n"
                 << "/// missing or of another type), and the required tags that are missing.\n";
        } else if (typed.empty()) {
            mOut << "/// Reads a " << m.name << " message, from a VMsg or in place from a block: each tag it may\n"
                 << "/// carry by its name, with its type (the first tag of that id; empty when it is missing\n"
                 << "/// or of another type), and the required tags that are missing.\n";
        } else {
            mOut << "/// Reads a " << m.name << " message, from a VMsg or in place from a block: "
                 << (m.closed ? "each tag it may carry" : "each tag of the dictionary") << "\n"
                 << "/// by its name, with its type (the first tag of that id outside the objects; empty when\n"
                 << "/// it is missing or of another type), every object in order, each with its members,\n"
                 << "/// and the required tags that are missing. A member tag after its object's meta tag\n"
                 << "/// belongs to that object, up to the next meta tag.\n";
        }
        mOut << "class " << deprecation(m) << "Reader {\npublic:\n"
             << "    /// Reads @p msg; its tags must outlive the reader and stay unchanged.\n"
             << "    explicit Reader(const VMsg& msg) : id_(msg.mId)\n    {\n"
             << "        for (const VTag& tag : vmsg::tags(msg))\n            take(vmsg::view(tag));\n    }\n"
             << "    /// Reads the block in place; it must outlive the reader.\n"
             << "    Reader(const void* block, std::size_t length)\n    {\n"
             << "        vmsg::Reader reader(block, length);\n        vmsg::TagView tag;\n"
             << "        while (reader.next(tag))\n            take(tag);\n"
             << "        id_ = reader.id();\n        stop_ = reader.stop();\n    }\n"
             << "    /// True when the message is a whole " << m.name << " message (id " << unsigned{m.id}
             << "): a block\n    /// whose walk stopped before its end is not.\n"
             << "    bool isMessage() const { return stop_ == vmsg::Stop::End && id_ == " << messageScope(m)
             << "::id; }\n"
             << "    /// Why the walk over a block ended; vmsg::Stop::End for a whole block or a VMsg.\n"
             << "    vmsg::Stop stop() const { return stop_; }\n"
             << "    /// The number of tags with id @p tagId" << (typed.empty() ? "" : ", inside objects too") << ".\n"
             << "    std::size_t count(unsigned char tagId) const { return counts_[tagId]; }\n";
        std::set<std::string> used;
        for (std::size_t i = 0; i < tags.size(); ++i) {
            accessor(*tags[i], i, "Tag " + std::to_string(tags[i]->id));
            used.insert(name(*tags[i]));
        }
        // Each kind of object by the plural of its name, made unique.
        std::vector<std::string> lists;
        for (const Dictionary::Meta* meta : typed) {
            std::string name = plural(identifier(meta->object));
            while (used.count(name) || keywords().count(name))
                name += "_";
            used.insert(name);
            lists.push_back(name);
            mOut << "    /// Every " << meta->object << " object (opened by tag " << unsigned{meta->id} << " \""
                 << meta->name << "\"), in the order of the message.\n"
                 << "    const std::vector<" << objectType(*meta) << ">& " << name << "() const { return objects_.o"
                 << lists.size() - 1 << "; }\n";
        }
        mOut << "    /// The required tag ids that are missing, by the rule of vmsg::missingTags.\n"
             << "    std::vector<unsigned char> missingTags() const\n    {\n";
        if (m.required.empty()) {
            mOut << "        return {};\n    }\n";
        } else {
            // A present tag satisfies one requirement and then counts as a
            // consumed id (255), as in Carrow::checkMessageTags.
            mOut << "        std::array<std::size_t, 256> left = counts_;\n"
                 << "        std::vector<unsigned char> missing;\n"
                 << "        for (unsigned char required : " << mQualified << "::detail::" << mMessageNames.at(m.id)
                 << "_required) {\n"
                 << "            if (left[required] == 0) {\n                missing.push_back(required);\n"
                 << "                continue;\n            }\n"
                 << "            --left[required];\n            ++left[255];\n        }\n"
                 << "        return missing;\n    }\n";
        }
        mOut << "\nprivate:\n    void take(const vmsg::TagView& tag)\n    {\n        ++counts_[tag.id];\n";
        if (!typed.empty())
            objectSwitch(typed);
        if (!tags.empty()) {
            mOut << "        switch (tag.id) {\n";
            for (std::size_t i = 0; i < tags.size(); ++i)
                mOut << "        case " << unsigned{tags[i]->id} << ":\n            if (!tags_[" << i
                     << "])\n                tags_[" << i << "] = tag;\n            break;\n";
            mOut << "        default:\n            break;\n        }\n";
        }
        mOut << "    }\n\n"
             << "    unsigned char id_ = 0;\n    vmsg::Stop stop_ = vmsg::Stop::End;\n"
             << "    std::array<std::optional<vmsg::TagView>, " << tags.size() << "> tags_{};\n"
             << "    std::array<std::size_t, 256> counts_{};\n";
        if (!typed.empty()) {
            mOut << "    struct {\n";
            for (std::size_t i = 0; i < typed.size(); ++i)
                mOut << "        std::vector<" << objectType(*typed[i]) << "> o" << i << "; ///< " << lists[i]
                     << "()\n";
            mOut << "        int open = -1; ///< The object member tags go to: o0, o1, ...; -1 for none.\n"
                 << "    } objects_;\n";
        }
        mOut << "};\n\n";
    }

    std::string objectType(const Dictionary::Meta& meta) const
    {
        return mQualified + "::objects::" + mObjects.at(meta.id).name;
    }

    // The part of a Reader's take() that sorts tags into objects: a meta tag
    // opens an object (or, when the reader does not read its kind, closes
    // the open one); a member of the open object goes to it and not to the
    // message's own tags.
    void objectSwitch(const std::vector<const Dictionary::Meta*>& typed)
    {
        mOut << "        switch (tag.id) {\n";
        for (std::size_t i = 0; i < typed.size(); ++i)
            mOut << "        case " << unsigned{typed[i]->id} << ":\n            objects_.open = " << i
                 << ";\n            objects_.o" << i << ".emplace_back(tag);\n            break;\n";
        bool others = false;
        for (const Dictionary::Meta& meta : mDict.metas()) {
            if (std::find(typed.begin(), typed.end(), &meta) == typed.end()) {
                mOut << "        case " << unsigned{meta.id} << ":\n";
                others = true;
            }
        }
        if (others)
            mOut << "            objects_.open = -1;\n            break;\n";
        mOut << "        default:\n";
        for (std::size_t i = 0; i < typed.size(); ++i)
            mOut << "            if (objects_.open == " << i << " && objects_.o" << i
                 << ".back().take(tag))\n                return;\n";
        mOut << "            break;\n        }\n";
    }

    void message(const Dictionary::Message& m)
    {
        const std::string& name = mMessageScopes.at(m.id);
        mOut << "/// Message " << m.name << " (id " << unsigned{m.id} << ")";
        if (!m.required.empty()) {
            mOut << "; requires";
            for (unsigned char id : m.required)
                mOut << " " << mDict.tag(id)->name;
        }
        if (m.closed) {
            mOut << "; closed, may carry";
            for (unsigned char id : m.optional)
                mOut << " " << mDict.tag(id)->name;
            if (m.optional.empty())
                mOut << " no other tag";
        }
        if (m.deprecated)
            mOut << "; deprecated";
        mOut << ".\nnamespace messages::" << name << " {\n\n"
             << "inline constexpr unsigned char id = " << unsigned{m.id} << "; ///< The message id.\n"
             << "inline constexpr const char* name = " << literal(m.name) << "; ///< The message name.\n\n";
        builder(m);
        reader(m);
        mOut << "} // namespace messages::" << name << "\n\n";
    }

    // The C++ name of a tag: its constant in tags, its accessors.
    const std::string& name(const Dictionary::Tag& tag) const { return mTagNames.at(tag.id); }

    const Dictionary& mDict;
    const GenerateOptions& mOptions;
    std::map<unsigned char, ObjectClass> mObjects; // by meta tag id
    std::string mQualified;
    std::map<unsigned char, std::string> mTagNames;      // by tag id
    std::map<unsigned char, std::string> mMessageNames;  // by message id: its records in detail
    std::map<unsigned char, std::string> mMessageScopes; // by message id: its namespace
    std::ostringstream mOut;
};

std::string stemOf(const std::string& path)
{
    std::string stem = path.substr(path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/') + 1);
    return stem.substr(0, stem.find('.'));
}

std::string asIdentifier(const std::string& text)
{
    std::string out;
    for (char c : text)
        out += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    if (out.empty() || std::isdigit(static_cast<unsigned char>(out[0])))
        out.insert(out.begin(), '_');
    return out;
}

} // namespace

std::string identifier(const std::string& name)
{
    std::string out = name;
    while (keywords().count(out))
        out += "_";
    return out;
}

std::string namespaceIdentifier(std::string name)
{
    // (VTag and VMsg are among the keywords.)
    static const std::set<std::string> global = {
        "std", "vmsg", "log4cpp", "cVlog", "Carrow", "CarrowDictDef", "CarrowMessage", "CarrowMetaDef",
        "CarrowMsgDef", "CarrowObject", "CarrowTagDef", "VError", "VErrorCode", "VList", "VListNode", "VTagBytes", "VTagFactory", "VTagFloat", "VTagNull", "VTagString", "VTagUInt16", "VTagUInt32",
        "VTagUInt8", "ErrUnknownMessage", "ErrMissingTag", "ErrBufferTooSmall", "ErrLengthMismatch",
        "ErrParseFailed", "ErrNullArgument", "ErrTagCountMismatch", "ErrQueueFull", "ErrJoinTooLarge"};
    while (keywords().count(name) || global.count(name))
        name += "_";
    return name;
}

GenerateOptions defaultOptions(const std::string& dictionaryPath, const std::string& headerPath)
{
    GenerateOptions options;
    options.source = dictionaryPath.substr(dictionaryPath.find_last_of('/') == std::string::npos
                                               ? 0
                                               : dictionaryPath.find_last_of('/') + 1);
    options.nameSpace = namespaceIdentifier(asIdentifier(stemOf(dictionaryPath)));
    std::string guard = asIdentifier(stemOf(headerPath.empty() ? dictionaryPath : headerPath)) + "_H";
    std::transform(guard.begin(), guard.end(), guard.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    options.includeGuard = "VMSG_GENERATED_" + guard;
    return options;
}

std::string generateHeader(const Dictionary& dict, const GenerateOptions& options)
{
    return HeaderWriter(dict, options).write();
}

} // namespace vmsgtool
