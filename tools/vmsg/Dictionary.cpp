#include "Dictionary.h"

#include "Blocks.h"
#include "Errors.h"
#include "JsonLines.h"
#include "TagText.h"

#include <algorithm>
#include <map>

namespace vmsgtool {

using nlohmann::json;

Dictionary::Dictionary(std::vector<Message> messages, std::vector<Tag> tags, std::vector<Meta> metas)
    : mMessages(std::move(messages)), mTags(std::move(tags)), mMetas(std::move(metas)), mDef{}
{
    for (const Message& m : mMessages)
        mMsgDefs.push_back({m.id, static_cast<unsigned char>(m.required.size()), m.required.data()});
    for (const Tag& t : mTags)
        mTagDefs.push_back({t.id, t.type, t.name.c_str()});
    for (const Meta& m : mMetas)
        mMetaDefs.push_back({m.id, m.type, m.name.c_str(), m.object.c_str()});
    mDef.mMsgDefCount = static_cast<unsigned char>(mMsgDefs.size());
    mDef.mTagDefCount = static_cast<unsigned char>(mTagDefs.size());
    mDef.mMetaDefCount = static_cast<unsigned char>(mMetaDefs.size());
    mDef.mMsgDefs = mMsgDefs.data();
    mDef.mTagDefs = mTagDefs.data();
    mDef.mMetaDefs = mMetaDefs.data();
}

namespace {

template <typename Entry>
const Entry* findEntry(const std::vector<Entry>& entries, unsigned char id)
{
    auto it = std::find_if(entries.begin(), entries.end(), [id](const Entry& e) { return e.id == id; });
    return it == entries.end() ? nullptr : &*it;
}

} // namespace

const Dictionary::Message* Dictionary::message(unsigned char id) const
{
    return findEntry(mMessages, id);
}

const Dictionary::Tag* Dictionary::tag(unsigned char id) const
{
    return findEntry(mTags, id);
}

const Dictionary::Meta* Dictionary::meta(unsigned char id) const
{
    return findEntry(mMetas, id);
}

namespace {

// Reads the entries out of the parsed document; every complaint names the
// line and path of the value and what was expected there.
class EntryReader {
public:
    EntryReader(const std::string& source, const JsonLines& lines) : mSource(source), mLines(lines) {}

    [[noreturn]] void fail(const std::string& path, const std::string& what) const
    {
        throw UsageError(mSource + ":" + std::to_string(line(path)) + ": " + (path.empty() ? "" : path + ": ") + what);
    }

    std::size_t line(std::string path) const
    {
        for (;;) {
            auto it = mLines.find(path);
            if (it != mLines.end() || path.empty())
                return it != mLines.end() ? it->second : 1;
            path.erase(path.find_last_of(".[") == std::string::npos ? 0 : path.find_last_of(".["));
        }
    }

    void checkObject(const json& value, const std::string& path, std::initializer_list<const char*> keys) const
    {
        if (!value.is_object())
            fail(path, "expected an object with the keys " + join(keys) + ", found " + shown(value));
        for (const auto& item : value.items()) {
            if (std::none_of(keys.begin(), keys.end(), [&](const char* key) { return item.key() == key; }))
                fail((path.empty() ? "" : path + ".") + item.key(), "unknown key '" + item.key() + "'; expected one of " + join(keys));
        }
    }

    const json& member(const json& object, const std::string& path, const char* key) const
    {
        if (!object.contains(key))
            fail(path, std::string("missing key '") + key + "'");
        return object.at(key);
    }

    const json& list(const json& root, const char* key) const
    {
        static const json empty = json::array();
        if (!root.contains(key))
            return empty;
        const json& value = root.at(key);
        if (!value.is_array())
            fail(key, "expected a list of entries, found " + shown(value));
        if (value.size() > 255)
            fail(key, "expected at most 255 entries, found " + std::to_string(value.size()));
        return value;
    }

    unsigned char id(const json& value, const std::string& path) const
    {
        if (!value.is_number_integer() || value.get<long long>() < 0 || value.get<long long>() > 255)
            fail(path, "expected an id from 0 to 255, found " + shown(value));
        return static_cast<unsigned char>(value.get<int>());
    }

    std::string name(const json& value, const std::string& path) const
    {
        if (!value.is_string() || value.get<std::string>().empty())
            fail(path, "expected a non-empty name, found " + shown(value));
        return value.get<std::string>();
    }

    VTag::VTagType type(const json& value, const std::string& path) const
    {
        const auto type = value.is_string() ? typeFromName(value.get<std::string>()) : std::nullopt;
        if (!type)
            fail(path, std::string("expected a type name (") + typeNameList() + "), found " + shown(value));
        return *type;
    }

    static std::string shown(const json& value)
    {
        std::string text = value.dump(-1, ' ', false, json::error_handler_t::replace);
        return text.size() > 40 ? text.substr(0, 37) + "..." : text;
    }

private:
    static std::string join(std::initializer_list<const char*> keys)
    {
        std::string text;
        for (const char* key : keys)
            text += (text.empty() ? "" : ", ") + std::string(key);
        return text;
    }

    const std::string& mSource;
    const JsonLines& mLines;
};

// Refuses a second entry with an id seen before in the same list.
class DuplicateCheck {
public:
    DuplicateCheck(const EntryReader& reader, const char* what) : mReader(reader), mWhat(what) {}
    void add(unsigned char id, const std::string& path)
    {
        auto [it, added] = mFirst.emplace(id, path);
        if (!added)
            mReader.fail(path, "duplicate " + std::string(mWhat) + " id " + std::to_string(id) + " (first at line " +
                                   std::to_string(mReader.line(it->second)) + ")");
    }

private:
    const EntryReader& mReader;
    const char* mWhat;
    std::map<unsigned char, std::string> mFirst;
};

std::string at(const char* list, std::size_t index)
{
    return std::string(list) + "[" + std::to_string(index) + "]";
}

std::vector<Dictionary::Tag> readTags(const EntryReader& reader, const json& root)
{
    std::vector<Dictionary::Tag> tags;
    DuplicateCheck duplicates(reader, "tag");
    const json& list = reader.list(root, "tags");
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::string path = at("tags", i);
        reader.checkObject(list[i], path, {"id", "name", "type"});
        const unsigned char id = reader.id(reader.member(list[i], path, "id"), path + ".id");
        duplicates.add(id, path + ".id");
        tags.push_back({id, reader.type(reader.member(list[i], path, "type"), path + ".type"),
                        reader.name(reader.member(list[i], path, "name"), path + ".name")});
    }
    return tags;
}

unsigned char requiredId(const EntryReader& reader, const json& value, const std::string& path,
                         const std::vector<Dictionary::Tag>& tags)
{
    if (!value.is_string())
        return reader.id(value, path);
    const std::string name = value.get<std::string>();
    for (const Dictionary::Tag& tag : tags) {
        if (tag.name == name)
            return tag.id;
    }
    reader.fail(path, "expected a tag id or the name of an entry of \"tags\", found " + EntryReader::shown(value));
}

std::vector<unsigned char> readRequired(const EntryReader& reader, const json& message, const std::string& path,
                                        const std::vector<Dictionary::Tag>& tags)
{
    std::vector<unsigned char> ids;
    if (!message.contains("required"))
        return ids;
    const json& list = message.at("required");
    if (!list.is_array() || list.size() > 255)
        reader.fail(path + ".required", "expected a list of at most 255 tag ids or names, found " +
                                            EntryReader::shown(list));
    for (std::size_t i = 0; i < list.size(); ++i)
        ids.push_back(requiredId(reader, list[i], path + ".required[" + std::to_string(i) + "]", tags));
    return ids;
}

std::vector<Dictionary::Message> readMessages(const EntryReader& reader, const json& root,
                                              const std::vector<Dictionary::Tag>& tags)
{
    std::vector<Dictionary::Message> messages;
    DuplicateCheck duplicates(reader, "message");
    const json& list = reader.list(root, "messages");
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::string path = at("messages", i);
        reader.checkObject(list[i], path, {"id", "name", "required"});
        const unsigned char id = reader.id(reader.member(list[i], path, "id"), path + ".id");
        duplicates.add(id, path + ".id");
        messages.push_back({id, reader.name(reader.member(list[i], path, "name"), path + ".name"),
                            readRequired(reader, list[i], path, tags)});
    }
    return messages;
}

std::vector<Dictionary::Meta> readMetas(const EntryReader& reader, const json& root,
                                        const std::vector<Dictionary::Tag>& tags)
{
    std::vector<Dictionary::Meta> metas;
    DuplicateCheck duplicates(reader, "meta tag");
    const json& list = reader.list(root, "meta");
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::string path = at("meta", i);
        const json& entry = list[i];
        reader.checkObject(entry, path, {"id", "name", "type", "object"});
        Dictionary::Meta meta{reader.id(reader.member(entry, path, "id"), path + ".id"), VTag::TagNull,
                              reader.name(reader.member(entry, path, "name"), path + ".name"), {}};
        duplicates.add(meta.id, path + ".id");
        auto tag = std::find_if(tags.begin(), tags.end(), [&](const Dictionary::Tag& t) { return t.id == meta.id; });
        if (entry.contains("type"))
            meta.type = reader.type(entry.at("type"), path + ".type");
        else if (tag != tags.end())
            meta.type = tag->type;
        meta.object = entry.contains("object") ? reader.name(entry.at("object"), path + ".object") : meta.name;
        metas.push_back(std::move(meta));
    }
    return metas;
}

} // namespace

std::unique_ptr<Dictionary> parseDictionary(std::string_view text, const std::string& source)
{
    JsonLines lines;
    const json root = parseJsonWithLines(text, source, lines);
    const EntryReader reader(source, lines);
    reader.checkObject(root, "", {"messages", "tags", "meta"});
    std::vector<Dictionary::Tag> tags = readTags(reader, root);
    std::vector<Dictionary::Message> messages = readMessages(reader, root, tags);
    std::vector<Dictionary::Meta> metas = readMetas(reader, root, tags);
    return std::make_unique<Dictionary>(std::move(messages), std::move(tags), std::move(metas));
}

std::unique_ptr<Dictionary> loadDictionary(const std::string& path)
{
    return parseDictionary(readInput(path), path);
}

} // namespace vmsgtool
