#include "Dictionary.h"

#include "Blocks.h"
#include "Errors.h"
#include "JsonLines.h"
#include "TagText.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>

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

// The rules of the dictionary format, applied to a parsed document. Each
// rule that fails adds a problem and the check goes on, so that one run
// names everything that is wrong; an entry with a bad field is still read
// for what it gives (a tag with a bad type still defines its id and name),
// so that one mistake is not reported again wherever it is used.
class Checker {
public:
    explicit Checker(const JsonLines& lines) : mLines(lines) {}

    std::vector<DictionaryProblem> takeProblems()
    {
        std::stable_sort(mProblems.begin(), mProblems.end(), [](const auto& a, const auto& b) {
            return a.line != b.line ? a.line < b.line : a.path < b.path;
        });
        return std::move(mProblems);
    }
    bool ok() const { return mProblems.empty(); }

    void problem(const std::string& path, const std::string& message)
    {
        mProblems.push_back({path, line(path), message});
    }

    // The line of the value at @p path, or of the nearest value around it.
    std::size_t line(std::string path) const
    {
        for (;;) {
            auto it = mLines.find(path);
            if (it != mLines.end() || path.empty())
                return it != mLines.end() ? it->second : 1;
            path.erase(path.find_last_of(".[") == std::string::npos ? 0 : path.find_last_of(".["));
        }
    }

    // An object with only the allowed keys and all the required ones.
    bool object(const json& value, const std::string& path, std::initializer_list<const char*> keys,
                std::initializer_list<const char*> required)
    {
        if (!value.is_object()) {
            problem(path, "expected an object with the keys " + join(keys) + ", found " + shown(value));
            return false;
        }
        for (const auto& item : value.items()) {
            if (std::none_of(keys.begin(), keys.end(), [&](const char* key) { return item.key() == key; }))
                problem(child(path, item.key()), "unknown key '" + item.key() + "'; expected one of " + join(keys));
        }
        for (const char* key : required) {
            if (!value.contains(key))
                problem(path, std::string("missing key '") + key + "'");
        }
        return true;
    }

    // The list under @p key of the root, or null when absent or not a list.
    const json* list(const json& root, const char* key, std::size_t max, const char* what)
    {
        if (!root.is_object() || !root.contains(key))
            return nullptr;
        const json& value = root.at(key);
        if (!value.is_array()) {
            problem(key, "expected a list of " + std::string(what) + ", found " + shown(value));
            return nullptr;
        }
        if (value.size() > max)
            problem(key, "expected at most " + std::to_string(max) + " entries, found " + std::to_string(value.size()));
        return &value;
    }

    std::optional<unsigned char> id(const json& value, const std::string& path)
    {
        if (!value.is_number_integer() || value.get<long long>() < 0 || value.get<long long>() > 255) {
            problem(path, "expected an id from 0 to 255, found " + shown(value));
            return std::nullopt;
        }
        return static_cast<unsigned char>(value.get<int>());
    }

    std::optional<std::string> name(const json& value, const std::string& path)
    {
        if (!value.is_string() || !isIdentifier(value.get<std::string>())) {
            problem(path, "expected a name (a letter or '_', then letters, digits or '_'), found " + shown(value));
            return std::nullopt;
        }
        return value.get<std::string>();
    }

    std::optional<VTag::VTagType> type(const json& value, const std::string& path)
    {
        const auto type = value.is_string() ? typeFromName(value.get<std::string>()) : std::nullopt;
        if (!type)
            problem(path, std::string("expected a type name (") + typeNameList() + "), found " + shown(value));
        return type;
    }

    static std::string shown(const json& value)
    {
        std::string text = value.dump(-1, ' ', false, json::error_handler_t::replace);
        return text.size() > 40 ? text.substr(0, 37) + "..." : text;
    }

    static std::string child(const std::string& path, const std::string& key)
    {
        return path.empty() ? key : path + "." + key;
    }

private:
    static bool isIdentifier(const std::string& name)
    {
        if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0])))
            return false;
        return std::all_of(name.begin(), name.end(), [](char c) {
            return c == '_' || std::isalnum(static_cast<unsigned char>(c));
        });
    }

    static std::string join(std::initializer_list<const char*> keys)
    {
        std::string text;
        for (const char* key : keys)
            text += (text.empty() ? "" : ", ") + std::string(key);
        return text;
    }

    const JsonLines& mLines;
    std::vector<DictionaryProblem> mProblems;
};

// Refuses a second use of an id or a name within one list, naming the line
// of the first.
template <typename Key>
class Unique {
public:
    Unique(Checker& checker, std::string what) : mChecker(checker), mWhat(std::move(what)) {}
    bool add(const Key& key, const std::string& shown, const std::string& path)
    {
        auto [it, added] = mFirst.emplace(key, path);
        if (!added)
            mChecker.problem(path, "duplicate " + mWhat + " " + shown + " (first at line " +
                                       std::to_string(mChecker.line(it->second)) + ")");
        return added;
    }

private:
    Checker& mChecker;
    std::string mWhat;
    std::map<Key, std::string> mFirst;
};

std::string at(const char* list, std::size_t index)
{
    return std::string(list) + "[" + std::to_string(index) + "]";
}

// What the entries of "tags" define, for the references of the others.
struct TagIndex {
    std::map<unsigned char, const Dictionary::Tag*> byId;
    std::map<std::string, unsigned char> byName;
};

std::vector<Dictionary::Tag> readTags(Checker& check, const json& root)
{
    std::vector<Dictionary::Tag> tags;
    Unique<unsigned char> ids(check, "tag id");
    Unique<std::string> names(check, "tag name");
    const json* list = check.list(root, "tags", 255, "entries");
    for (std::size_t i = 0; list && i < list->size(); ++i) {
        const std::string path = at("tags", i);
        const json& entry = (*list)[i];
        if (!check.object(entry, path, {"id", "name", "type"}, {"id", "name", "type"}))
            continue;
        std::optional<unsigned char> id = entry.contains("id") ? check.id(entry["id"], path + ".id") : std::nullopt;
        std::optional<std::string> name = entry.contains("name") ? check.name(entry["name"], path + ".name")
                                                                 : std::nullopt;
        const auto type = entry.contains("type") ? check.type(entry["type"], path + ".type") : std::nullopt;
        if (id && !ids.add(*id, std::to_string(*id), path + ".id"))
            id.reset();
        if (name && !names.add(*name, "\"" + *name + "\"", path + ".name"))
            name.reset();
        if (id && name)
            tags.push_back({*id, type.value_or(VTag::TagNull), *name});
    }
    return tags;
}

TagIndex indexOf(const std::vector<Dictionary::Tag>& tags)
{
    TagIndex index;
    for (const Dictionary::Tag& tag : tags) {
        index.byId[tag.id] = &tag;
        index.byName[tag.name] = tag.id;
    }
    return index;
}

std::optional<unsigned char> requiredId(Checker& check, const json& value, const std::string& path,
                                        const TagIndex& tags)
{
    if (value.is_string()) {
        auto it = tags.byName.find(value.get<std::string>());
        if (it != tags.byName.end())
            return it->second;
        check.problem(path, "expected a tag id or the name of an entry of \"tags\", found " + Checker::shown(value));
        return std::nullopt;
    }
    const std::optional<unsigned char> id = check.id(value, path);
    if (id && !tags.byId.count(*id)) {
        check.problem(path, "tag id " + std::to_string(*id) + " is not in \"tags\"");
        return std::nullopt;
    }
    return id;
}

std::vector<unsigned char> readRequired(Checker& check, const json& message, const std::string& path,
                                        const TagIndex& tags)
{
    std::vector<unsigned char> ids;
    if (!message.contains("required"))
        return ids;
    const json& list = message.at("required");
    if (!list.is_array() || list.size() > 255) {
        check.problem(path + ".required",
                      "expected a list of at most 255 tag ids or names, found " + Checker::shown(list));
        return ids;
    }
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (auto id = requiredId(check, list[i], path + ".required[" + std::to_string(i) + "]", tags))
            ids.push_back(*id);
    }
    return ids;
}

std::vector<Dictionary::Message> readMessages(Checker& check, const json& root, const TagIndex& tags)
{
    std::vector<Dictionary::Message> messages;
    Unique<unsigned char> ids(check, "message id");
    Unique<std::string> names(check, "message name");
    const json* list = check.list(root, "messages", 255, "entries");
    for (std::size_t i = 0; list && i < list->size(); ++i) {
        const std::string path = at("messages", i);
        const json& entry = (*list)[i];
        if (!check.object(entry, path, {"id", "name", "required"}, {"id", "name"}))
            continue;
        std::optional<unsigned char> id = entry.contains("id") ? check.id(entry["id"], path + ".id") : std::nullopt;
        std::optional<std::string> name = entry.contains("name") ? check.name(entry["name"], path + ".name")
                                                                 : std::nullopt;
        std::vector<unsigned char> required = readRequired(check, entry, path, tags);
        if (id && !ids.add(*id, std::to_string(*id), path + ".id"))
            id.reset();
        if (name && !names.add(*name, "\"" + *name + "\"", path + ".name"))
            name.reset();
        if (id && name)
            messages.push_back({*id, *name, std::move(required)});
    }
    return messages;
}

std::vector<Dictionary::Meta> readMetas(Checker& check, const json& root, const TagIndex& tags)
{
    std::vector<Dictionary::Meta> metas;
    Unique<unsigned char> ids(check, "meta tag id");
    const json* list = check.list(root, "meta", 255, "entries");
    for (std::size_t i = 0; list && i < list->size(); ++i) {
        const std::string path = at("meta", i);
        const json& entry = (*list)[i];
        if (!check.object(entry, path, {"id", "name", "type", "object"}, {"id"}))
            continue;
        const std::optional<unsigned char> id =
            entry.contains("id") ? check.id(entry["id"], path + ".id") : std::nullopt;
        const std::optional<std::string> object =
            entry.contains("object") ? check.name(entry["object"], path + ".object") : std::nullopt;
        if (!id || !ids.add(*id, std::to_string(*id), path + ".id"))
            continue;
        auto tag = tags.byId.find(*id);
        if (tag == tags.byId.end()) {
            check.problem(path + ".id", "meta tag " + std::to_string(*id) + " is not in \"tags\" (a meta tag is also a tag)");
            continue;
        }
        const Dictionary::Tag& def = *tag->second;
        // A meta entry may repeat its tag's name and type, but not contradict them.
        if (entry.contains("name") && entry["name"] != def.name)
            check.problem(path + ".name", "expected the name of tag " + std::to_string(*id) + ", \"" + def.name +
                                              "\", found " + Checker::shown(entry["name"]));
        if (entry.contains("type") && entry["type"] != typeName(def.type))
            check.problem(path + ".type", "expected the type of tag " + std::to_string(*id) + ", " +
                                              typeName(def.type) + ", found " + Checker::shown(entry["type"]));
        metas.push_back({*id, def.type, def.name, object.value_or(def.name)});
    }
    return metas;
}

} // namespace

DictionaryCheck checkDictionary(std::string_view text, const std::string& source)
{
    JsonLines lines;
    std::vector<std::string> repeated;
    const json root = parseJsonWithLines(text, source, lines, &repeated);
    Checker check(lines);
    for (const std::string& path : repeated)
        check.problem(path, "key given twice");
    check.object(root, "", {"messages", "tags", "meta"}, {});
    std::vector<Dictionary::Tag> tags = readTags(check, root);
    const TagIndex index = indexOf(tags);
    std::vector<Dictionary::Message> messages = readMessages(check, root, index);
    std::vector<Dictionary::Meta> metas = readMetas(check, root, index);
    DictionaryCheck result;
    if (check.ok())
        result.dictionary = std::make_unique<Dictionary>(std::move(messages), std::move(tags), std::move(metas));
    result.problems = check.takeProblems();
    return result;
}

std::string problemText(const DictionaryProblem& problem, const std::string& source)
{
    return source + ":" + std::to_string(problem.line) + ": " + (problem.path.empty() ? "" : problem.path + ": ") +
           problem.message;
}

std::unique_ptr<Dictionary> parseDictionary(std::string_view text, const std::string& source)
{
    DictionaryCheck result = checkDictionary(text, source);
    if (!result.problems.empty())
        throw UsageError(problemText(result.problems.front(), source));
    return std::move(result.dictionary);
}

std::unique_ptr<Dictionary> loadDictionary(const std::string& path)
{
    return parseDictionary(readInput(path), path);
}

} // namespace vmsgtool
