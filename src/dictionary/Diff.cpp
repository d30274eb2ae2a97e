// Comparing two versions of a dictionary, for a peer that still has the
// older: what it sends must still be taken, and what it receives must still
// be understood.
#include <VDictionary.h>

#include <algorithm>
#include <map>
#include <set>

namespace vmsg {

namespace {

std::string quoted(const std::string& name)
{
    return "\"" + name + "\"";
}

std::string typeText(VTag::VTagType type)
{
    const TypeInfo* info = typeInfo(static_cast<unsigned>(type));
    return info ? info->name : "?";
}

class Differ {
public:
    Differ(const Dictionary& older, const Dictionary& newer) : mOld(older), mNew(newer) {}

    std::vector<DictionaryChange> run()
    {
        entries(mOld.messages(), mNew.messages(), "message");
        for (const Dictionary::Message& before : mOld.messages()) {
            if (const Dictionary::Message* after = mNew.message(before.id); after && after->name == before.name)
                messageBody(before, *after);
        }
        entries(mOld.tags(), mNew.tags(), "tag");
        for (const Dictionary::Tag& before : mOld.tags()) {
            const Dictionary::Tag* after = mNew.tag(before.id);
            if (!after || after->name != before.name)
                continue;
            if (after->type != before.type)
                breaking("tag-type-changed", "tag " + label(before) + " changed type from " + typeText(before.type) +
                                                 " to " + typeText(after->type));
            if (after->deprecated && !before.deprecated)
                compatible("tag-deprecated", "tag " + label(before) + " deprecated");
        }
        objects();
        return std::move(mChanges);
    }

private:
    template <typename Entry>
    static std::string label(const Entry& entry)
    {
        return std::to_string(entry.id) + " " + quoted(entry.name);
    }

    void breaking(const std::string& rule, const std::string& text)
    {
        mChanges.push_back({ChangeKind::Breaking, rule, text});
    }
    void compatible(const std::string& rule, const std::string& text)
    {
        mChanges.push_back({ChangeKind::Compatible, rule, text});
    }

    // Additions, removals and renames of messages or tags, matched by id;
    // a name found at another id means the id changed, which breaks.
    template <typename Entry>
    void entries(const std::vector<Entry>& older, const std::vector<Entry>& newer, const std::string& kind)
    {
        auto byName = [](const std::vector<Entry>& list, const std::string& name) -> const Entry* {
            auto it = std::find_if(list.begin(), list.end(), [&](const Entry& e) { return e.name == name; });
            return it == list.end() ? nullptr : &*it;
        };
        auto byId = [](const std::vector<Entry>& list, unsigned char id) -> const Entry* {
            auto it = std::find_if(list.begin(), list.end(), [&](const Entry& e) { return e.id == id; });
            return it == list.end() ? nullptr : &*it;
        };
        for (const Entry& before : older) {
            const Entry* after = byId(newer, before.id);
            const Entry* moved = byName(newer, before.name);
            if (!after && moved)
                breaking(kind + "-id-changed", kind + " " + quoted(before.name) + " moved from id " +
                                                   std::to_string(before.id) + " to " + std::to_string(moved->id));
            else if (!after)
                breaking(kind + "-removed", kind + " " + label(before) + " removed");
            else if (after->name != before.name) {
                if (const Entry* owner = byName(older, after->name)) {
                    std::string text = kind + " id " + std::to_string(before.id) + " was " + quoted(before.name);
                    text += ", is now " + quoted(after->name);
                    text += " (which was " + kind + " " + std::to_string(owner->id) + ")";
                    breaking(kind + "-id-reassigned", text);
                } else {
                    compatible(kind + "-renamed", kind + " " + std::to_string(before.id) + " renamed from " +
                                                      quoted(before.name) + " to " + quoted(after->name));
                }
            }
        }
        for (const Entry& after : newer) {
            if (!byId(older, after.id) && !byName(older, after.name))
                compatible(kind + "-added", kind + " " + label(after) + " added");
        }
    }

    void messageBody(const Dictionary::Message& before, const Dictionary::Message& after)
    {
        const std::string name = "message " + label(before);
        auto has = [](const std::vector<unsigned char>& list, unsigned char id) {
            return std::find(list.begin(), list.end(), id) != list.end();
        };
        for (unsigned char tag : after.required) {
            if (!has(before.required, tag))
                breaking("tag-made-required", name + " now requires tag " + tagLabel(tag));
        }
        for (unsigned char tag : before.required) {
            if (!has(after.required, tag))
                breaking("tag-no-longer-required", name + " no longer requires tag " + tagLabel(tag));
        }
        if (after.closed && !before.closed)
            compatible("message-closed", name + " now lists its tags; others are reported as unexpected");
        if (before.closed && after.closed) {
            for (unsigned char tag : after.optional) {
                if (!has(before.optional, tag) && !has(before.required, tag))
                    compatible("optional-tag-added", name + " may now carry tag " + tagLabel(tag));
            }
            for (unsigned char tag : before.optional) {
                if (!has(after.optional, tag) && !has(after.required, tag))
                    breaking("optional-tag-removed", name + " no longer carries tag " + tagLabel(tag));
            }
        }
        if (after.deprecated && !before.deprecated)
            compatible("message-deprecated", name + " deprecated");
    }

    std::string tagLabel(unsigned char id) const
    {
        const std::string_view name = mNew.tagName(id).empty() ? mOld.tagName(id) : mNew.tagName(id);
        return std::to_string(id) + (name.empty() ? "" : " " + quoted(std::string(name)));
    }

    static std::string objectLabel(const Dictionary::Meta& meta)
    {
        return quoted(meta.object) + " (meta tag " + std::to_string(meta.id) + ")";
    }

    void objects()
    {
        std::map<unsigned char, const Dictionary::Meta*> memberOfNew;
        for (const Dictionary::Meta& meta : mNew.metas()) {
            for (unsigned char member : meta.members)
                memberOfNew[member] = &meta;
        }
        std::set<unsigned char> membersOfOld;
        for (const Dictionary::Meta& before : mOld.metas()) {
            const Dictionary::Meta* after = mNew.meta(before.id);
            if (!after) {
                breaking("object-removed", "object " + objectLabel(before) + " removed");
            } else if (after->object != before.object) {
                compatible("object-renamed", "object " + objectLabel(before) + " renamed to " + quoted(after->object));
            }
            for (unsigned char member : before.members) {
                membersOfOld.insert(member);
                if (after && std::find(after->members.begin(), after->members.end(), member) != after->members.end())
                    continue;
                auto moved = memberOfNew.find(member);
                if (moved != memberOfNew.end())
                    breaking("member-moved", "tag " + tagLabel(member) + " moved from object " + objectLabel(before) +
                                                 " to " + objectLabel(*moved->second));
                else if (after)
                    breaking("member-removed", "tag " + tagLabel(member) + " removed from object " + objectLabel(before));
            }
        }
        for (const Dictionary::Meta& after : mNew.metas()) {
            const Dictionary::Meta* before = mOld.meta(after.id);
            if (!before)
                compatible("object-added", "object " + objectLabel(after) + " added");
            for (unsigned char member : after.members) {
                if (!membersOfOld.count(member))
                    compatible("member-added", "object " + objectLabel(after) + " gained member tag " + tagLabel(member));
            }
        }
    }

    const Dictionary& mOld;
    const Dictionary& mNew;
    std::vector<DictionaryChange> mChanges;
};

} // namespace

std::vector<DictionaryChange> compare(const Dictionary& older, const Dictionary& newer)
{
    return Differ(older, newer).run();
}

} // namespace vmsg
