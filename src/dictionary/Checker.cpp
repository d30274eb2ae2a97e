// The checker of dictionary files: the rules of the format applied to the
// parsed JSON, every problem named with its line, and the entries of a
// file that holds built into a Dictionary.
#include "Model.h"

#include "JsonLines.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <map>
#include <optional>
#include <set>

namespace vmsg::detail {

using nlohmann::json;

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
        mProblems.push_back({static_cast<unsigned>(line(path)), path, message});
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
        const TypeInfo* type = value.is_string() ? typeInfo(std::string_view(value.get_ref<const std::string&>()))
                                                 : nullptr;
        if (!type) {
            problem(path, std::string("expected a type name (") + typeNameList() + "), found " + shown(value));
            return std::nullopt;
        }
        return static_cast<VTag::VTagType>(type->code);
    }

    std::optional<bool> flag(const json& value, const std::string& path)
    {
        if (!value.is_boolean()) {
            problem(path, "expected true or false, found " + shown(value));
            return std::nullopt;
        }
        return value.get<bool>();
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

    static std::string typeNameList()
    {
        std::string names;
        for (const TypeInfo& type : kTypes)
            names += (names.empty() ? "" : ", ") + std::string(type.name);
        return names;
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
    std::map<unsigned char, const Entries::Tag*> byId;
    std::map<std::string, unsigned char> byName;
};

bool readFlag(Checker& check, const json& entry, const char* key, const std::string& path)
{
    return entry.contains(key) && check.flag(entry.at(key), path + "." + key).value_or(false);
}

// The "id" and "name" of a tag or message entry, when present and valid.
std::optional<unsigned char> entryId(Checker& check, const json& entry, const std::string& path)
{
    return entry.contains("id") ? check.id(entry["id"], path + ".id") : std::nullopt;
}

std::optional<std::string> entryName(Checker& check, const json& entry, const std::string& path)
{
    return entry.contains("name") ? check.name(entry["name"], path + ".name") : std::nullopt;
}

std::vector<Entries::Tag> readTags(Checker& check, const json& root)
{
    std::vector<Entries::Tag> tags;
    Unique<unsigned char> ids(check, "tag id");
    Unique<std::string> names(check, "tag name");
    const json* list = check.list(root, "tags", 255, "entries");
    for (std::size_t i = 0; list && i < list->size(); ++i) {
        const std::string path = at("tags", i);
        const json& entry = (*list)[i];
        if (!check.object(entry, path, {"id", "name", "type", "deprecated"}, {"id", "name", "type"}))
            continue;
        std::optional<unsigned char> id = entryId(check, entry, path);
        std::optional<std::string> name = entryName(check, entry, path);
        const auto type = entry.contains("type") ? check.type(entry["type"], path + ".type") : std::nullopt;
        const bool deprecated = readFlag(check, entry, "deprecated", path);
        if (id && !ids.add(*id, std::to_string(*id), path + ".id"))
            id.reset();
        if (name && !names.add(*name, "\"" + *name + "\"", path + ".name"))
            name.reset();
        if (id && name)
            tags.push_back({*id, type.value_or(VTag::TagNull), *name, deprecated});
    }
    return tags;
}

TagIndex indexOf(const std::vector<Entries::Tag>& tags)
{
    TagIndex index;
    for (const Entries::Tag& tag : tags) {
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

// A list of tag ids or names under @p key of an entry ("required",
// "optional", "members"), each a tag of "tags".
std::vector<unsigned char> readTagList(Checker& check, const json& entry, const char* key, const std::string& path,
                                       const TagIndex& tags)
{
    std::vector<unsigned char> ids;
    if (!entry.contains(key))
        return ids;
    const json& list = entry.at(key);
    const std::string listPath = path + "." + key;
    if (!list.is_array() || list.size() > 255) {
        check.problem(listPath, "expected a list of at most 255 tag ids or names, found " + Checker::shown(list));
        return ids;
    }
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (auto id = requiredId(check, list[i], listPath + "[" + std::to_string(i) + "]", tags))
            ids.push_back(*id);
    }
    return ids;
}

// The optional tags of a message: each once, and none of its required ones
// (a tag cannot be both).
std::vector<unsigned char> readOptional(Checker& check, const json& entry, const std::string& path,
                                        const TagIndex& tags, const std::vector<unsigned char>& required)
{
    std::vector<unsigned char> ids;
    if (!entry.contains("optional"))
        return ids;
    const json& list = entry.at("optional");
    if (!list.is_array() || list.size() > 255) {
        check.problem(path + ".optional", "expected a list of at most 255 tag ids or names, found " + Checker::shown(list));
        return ids;
    }
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::string itemPath = path + ".optional[" + std::to_string(i) + "]";
        const std::optional<unsigned char> id = requiredId(check, list[i], itemPath, tags);
        if (!id)
            continue;
        if (std::find(required.begin(), required.end(), *id) != required.end())
            check.problem(itemPath, "tag " + std::to_string(*id) + " is required; a tag is required or optional, not both");
        else if (std::find(ids.begin(), ids.end(), *id) != ids.end())
            check.problem(itemPath, "tag " + std::to_string(*id) + " is listed twice");
        else
            ids.push_back(*id);
    }
    return ids;
}

std::vector<Entries::Message> readMessages(Checker& check, const json& root, const TagIndex& tags)
{
    std::vector<Entries::Message> messages;
    Unique<unsigned char> ids(check, "message id");
    Unique<std::string> names(check, "message name");
    const json* list = check.list(root, "messages", 255, "entries");
    for (std::size_t i = 0; list && i < list->size(); ++i) {
        const std::string path = at("messages", i);
        const json& entry = (*list)[i];
        if (!check.object(entry, path, {"id", "name", "required", "optional", "deprecated"}, {"id", "name"}))
            continue;
        std::optional<unsigned char> id = entryId(check, entry, path);
        std::optional<std::string> name = entryName(check, entry, path);
        std::vector<unsigned char> required = readTagList(check, entry, "required", path, tags);
        std::vector<unsigned char> optional = readOptional(check, entry, path, tags, required);
        const bool deprecated = readFlag(check, entry, "deprecated", path);
        if (id && !ids.add(*id, std::to_string(*id), path + ".id"))
            id.reset();
        if (name && !names.add(*name, "\"" + *name + "\"", path + ".name"))
            name.reset();
        if (id && name)
            messages.push_back({*id, *name, std::move(required), std::move(optional), entry.contains("optional"),
                                deprecated});
    }
    return messages;
}

std::vector<Entries::Meta> readMetas(Checker& check, const json& root, const TagIndex& tags)
{
    std::vector<Entries::Meta> metas;
    Unique<unsigned char> ids(check, "meta tag id");
    // Each member tag belongs to one object: the path of its first listing.
    std::map<unsigned char, std::string> memberOf;
    const json* list = check.list(root, "meta", 255, "entries");
    for (std::size_t i = 0; list && i < list->size(); ++i) {
        const std::string path = at("meta", i);
        const json& entry = (*list)[i];
        if (!check.object(entry, path, {"id", "name", "type", "object", "members"}, {"id"}))
            continue;
        const std::optional<unsigned char> id = entryId(check, entry, path);
        const std::optional<std::string> object =
            entry.contains("object") ? check.name(entry["object"], path + ".object") : std::nullopt;
        std::vector<unsigned char> listed = readTagList(check, entry, "members", path, tags);
        if (!id || !ids.add(*id, std::to_string(*id), path + ".id"))
            continue;
        auto tag = tags.byId.find(*id);
        if (tag == tags.byId.end()) {
            check.problem(path + ".id", "meta tag " + std::to_string(*id) + " is not in \"tags\" (a meta tag is also a tag)");
            continue;
        }
        const Entries::Tag& def = *tag->second;
        // A meta entry may repeat its tag's name and type, but not contradict them.
        if (entry.contains("name") && entry["name"] != def.name)
            check.problem(path + ".name", "expected the name of tag " + std::to_string(*id) + ", \"" + def.name +
                                              "\", found " + Checker::shown(entry["name"]));
        if (entry.contains("type") && entry["type"] != typeInfo(def.type)->name)
            check.problem(path + ".type", "expected the type of tag " + std::to_string(*id) + ", " +
                                              typeInfo(def.type)->name + ", found " + Checker::shown(entry["type"]));
        std::vector<unsigned char> members;
        for (unsigned char member : listed) {
            const std::string memberPath = path + ".members";
            if (member == *id) {
                check.problem(memberPath, "tag " + std::to_string(member) + " opens this object; it is not its own member");
                continue;
            }
            auto [first, added] = memberOf.emplace(member, path);
            if (!added) {
                check.problem(memberPath, "tag " + std::to_string(member) + " is already a member of " + first->second +
                                              " (line " + std::to_string(check.line(first->second)) +
                                              "); a tag belongs to one object");
                continue;
            }
            members.push_back(member);
        }
        metas.push_back({*id, def.type, def.name, object.value_or(def.name), std::move(members),
                         entry.contains("members")});
    }
    return metas;
}

// The file's own "name" and "version".
void readHeader(Checker& check, const json& root, Entries& entries)
{
    if (!root.is_object())
        return;
    if (root.contains("name")) {
        const json& name = root.at("name");
        if (name.is_string() && !name.get_ref<const std::string&>().empty())
            entries.name = name.get<std::string>();
        else
            check.problem("name", "expected a non-empty text, found " + Checker::shown(name));
    }
    if (root.contains("version")) {
        const json& version = root.at("version");
        if (version.is_number_integer() && (version.is_number_unsigned() ? version.get<unsigned long long>() <= LLONG_MAX
                                                                         : version.get<long long>() >= 0))
            entries.version = version.get<long long>();
        else
            check.problem("version", "expected a whole number from 0, found " + Checker::shown(version));
    }
}

} // namespace

CheckResult checkDictionary(std::string_view text)
{
    JsonLines lines;
    std::vector<std::string> repeated;
    const json root = parseJsonWithLines(text, lines, &repeated);
    Checker check(lines);
    for (const std::string& path : repeated)
        check.problem(path, "key given twice");
    check.object(root, "", {"messages", "tags", "meta", "name", "version"}, {});
    Entries entries;
    readHeader(check, root, entries);
    entries.tags = readTags(check, root);
    const TagIndex index = indexOf(entries.tags);
    entries.messages = readMessages(check, root, index);
    entries.metas = readMetas(check, root, index);
    CheckResult result;
    if (check.ok())
        result.entries = std::move(entries);
    result.problems = check.takeProblems();
    return result;
}

} // namespace vmsg::detail
