// vmsg::Dictionary: the checked entries, the CarrowDictDef records built on
// them, and the lookups by id and by name.
#include "JsonLines.h"
#include "Model.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>

namespace vmsg {

namespace {

// Each problem as one line: "ORIGIN:LINE: PATH: text", "ORIGIN:LINE:COLUMN:
// text" for a syntax error, "ORIGIN: text" for a file not read.
std::vector<std::string> problemLines(const std::string& origin, const std::vector<DictionaryProblem>& problems,
                                      unsigned column)
{
    std::vector<std::string> lines;
    for (const DictionaryProblem& problem : problems) {
        std::string line = origin.empty() ? "" : origin + ":";
        if (problem.line != 0)
            line += std::to_string(problem.line) + ":";
        if (column != 0)
            line += std::to_string(column) + ":";
        if (!line.empty())
            line += " ";
        if (!problem.path.empty())
            line += problem.path + ": ";
        lines.push_back(line + problem.text);
    }
    return lines;
}

std::string joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += (text.empty() ? "" : "\n") + line;
    return text;
}

} // namespace

DictionaryError::DictionaryError(std::string origin, std::vector<DictionaryProblem> problems, unsigned column)
    : std::runtime_error(joined(problemLines(origin, problems, column))), mOrigin(std::move(origin)),
      mProblems(std::move(problems)), mColumn(column)
{
}

std::vector<std::string> DictionaryError::lines() const
{
    return problemLines(mOrigin, mProblems, mColumn);
}

struct Dictionary::Impl {
    explicit Impl(detail::Entries entries) : e(std::move(entries)), def{}
    {
        for (const Message& m : e.messages)
            msgDefs.push_back({m.id, static_cast<unsigned char>(m.required.size()), m.required.data()});
        for (const Tag& t : e.tags)
            tagDefs.push_back({t.id, t.type, t.name.c_str()});
        for (const Meta& m : e.metas)
            metaDefs.push_back({m.id, m.type, m.name.c_str(), m.object.c_str()});
        def.mMsgDefCount = static_cast<unsigned char>(msgDefs.size());
        def.mTagDefCount = static_cast<unsigned char>(tagDefs.size());
        def.mMetaDefCount = static_cast<unsigned char>(metaDefs.size());
        def.mMsgDefs = msgDefs.data();
        def.mTagDefs = tagDefs.data();
        def.mMetaDefs = metaDefs.data();
        for (const Message& m : e.messages) {
            messageByName.emplace(m.name, m.id);
            if (m.closed) {
                std::vector<bool>& allowed = expected[m.id];
                allowed.assign(256, false);
                auto allow = [&](unsigned char tag) {
                    allowed[tag] = true;
                    // A listed meta tag brings the members of its objects.
                    for (const Meta& meta : e.metas) {
                        if (meta.id == tag) {
                            for (unsigned char member : meta.members)
                                allowed[member] = true;
                        }
                    }
                };
                std::for_each(m.required.begin(), m.required.end(), allow);
                std::for_each(m.optional.begin(), m.optional.end(), allow);
            }
        }
        for (const Tag& t : e.tags)
            tagByName.emplace(t.name, t.id);
    }

    detail::Entries e;
    std::vector<CarrowMsgDef> msgDefs;
    std::vector<CarrowTagDef> tagDefs;
    std::vector<CarrowMetaDef> metaDefs;
    CarrowDictDef def;
    std::map<std::string, unsigned char, std::less<>> messageByName;
    std::map<std::string, unsigned char, std::less<>> tagByName;
    std::map<unsigned char, std::vector<bool>> expected; // closed messages: tag id -> may carry
};

Dictionary::Dictionary(std::unique_ptr<Impl> impl) : mImpl(std::move(impl)) {}
Dictionary::Dictionary(Dictionary&& other) noexcept = default;
Dictionary& Dictionary::operator=(Dictionary&& other) noexcept = default;
Dictionary::~Dictionary() = default;

Dictionary Dictionary::parse(std::string_view json, std::string_view origin)
{
    detail::CheckResult result;
    try {
        result = detail::checkDictionary(json);
    } catch (const detail::JsonSyntaxError& syntax) {
        throw DictionaryError(std::string(origin), {{syntax.line, "", syntax.text}}, syntax.column);
    }
    if (!result.entries)
        throw DictionaryError(std::string(origin), std::move(result.problems));
    return Dictionary(std::make_unique<Impl>(std::move(*result.entries)));
}

Dictionary Dictionary::load(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw DictionaryError(path, {{0, "", std::string("cannot open: ") + std::strerror(errno)}});
    std::string text;
    try {
        // A directory opens but fails on the first read, by an exception.
        text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    } catch (const std::ios_base::failure&) {
        file.setstate(std::ios::badbit);
    }
    if (file.bad())
        throw DictionaryError(path, {{0, "", "cannot read"}});
    return parse(text, path);
}

const CarrowDictDef& Dictionary::def() const
{
    return mImpl->def;
}

const std::string& Dictionary::name() const
{
    return mImpl->e.name;
}

std::optional<long long> Dictionary::version() const
{
    return mImpl->e.version;
}

const std::vector<Dictionary::Message>& Dictionary::messages() const
{
    return mImpl->e.messages;
}

const std::vector<Dictionary::Tag>& Dictionary::tags() const
{
    return mImpl->e.tags;
}

const std::vector<Dictionary::Meta>& Dictionary::metas() const
{
    return mImpl->e.metas;
}

namespace {

template <typename Entry>
const Entry* findEntry(const std::vector<Entry>& entries, unsigned char id)
{
    auto it = std::find_if(entries.begin(), entries.end(), [id](const Entry& e) { return e.id == id; });
    return it == entries.end() ? nullptr : &*it;
}

std::optional<unsigned char> findName(const std::map<std::string, unsigned char, std::less<>>& names,
                                      std::string_view name)
{
    auto it = names.find(name);
    return it == names.end() ? std::nullopt : std::optional<unsigned char>(it->second);
}

} // namespace

const Dictionary::Message* Dictionary::message(unsigned char id) const
{
    return findEntry(mImpl->e.messages, id);
}

const Dictionary::Tag* Dictionary::tag(unsigned char id) const
{
    return findEntry(mImpl->e.tags, id);
}

const Dictionary::Meta* Dictionary::meta(unsigned char id) const
{
    return findEntry(mImpl->e.metas, id);
}

std::string_view Dictionary::tagName(unsigned char id) const
{
    const Tag* entry = tag(id);
    return entry ? std::string_view(entry->name) : std::string_view();
}

std::string_view Dictionary::messageName(unsigned char id) const
{
    const Message* entry = message(id);
    return entry ? std::string_view(entry->name) : std::string_view();
}

std::optional<unsigned char> Dictionary::tagId(std::string_view name) const
{
    return findName(mImpl->tagByName, name);
}

std::optional<unsigned char> Dictionary::messageId(std::string_view name) const
{
    return findName(mImpl->messageByName, name);
}

bool Dictionary::expects(unsigned char message, unsigned char tag) const
{
    auto it = mImpl->expected.find(message);
    return it == mImpl->expected.end() || it->second[tag];
}

std::vector<unsigned char> Dictionary::unexpectedTags(const void* block, std::size_t length) const
{
    std::vector<unsigned char> found;
    Reader reader(block, length);
    if (reader.stop() != Stop::End)
        return found;
    TagView tag;
    while (reader.next(tag)) {
        if (!expects(reader.id(), tag.id) && std::find(found.begin(), found.end(), tag.id) == found.end())
            found.push_back(tag.id);
    }
    return found;
}

} // namespace vmsg
