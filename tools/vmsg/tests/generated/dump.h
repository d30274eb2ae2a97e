// The records of a dictionary as text, one line each: what the checker
// made of a file and what a generated header holds are compared this way.
#ifndef VMSG_TOOL_TESTS_DUMP_H
#define VMSG_TOOL_TESTS_DUMP_H

#include <Carrow.h>

#include <sstream>
#include <string>

namespace vmsgdump {

inline std::string dump(const std::string& title, const CarrowDictDef& d)
{
    std::ostringstream out;
    out << title << ": " << unsigned{d.mMsgDefCount} << " messages, " << unsigned{d.mTagDefCount} << " tags, "
        << unsigned{d.mMetaDefCount} << " metas\n";
    for (unsigned i = 0; i < d.mMsgDefCount; ++i) {
        out << "  message " << unsigned{d.mMsgDefs[i].mId} << " requires";
        for (unsigned r = 0; r < d.mMsgDefs[i].mRequiredCount; ++r)
            out << " " << unsigned{d.mMsgDefs[i].mRequiredTags[r]};
        out << "\n";
    }
    for (unsigned i = 0; i < d.mTagDefCount; ++i)
        out << "  tag " << unsigned{d.mTagDefs[i].mId} << " " << d.mTagDefs[i].mType << " " << d.mTagDefs[i].mName
            << "\n";
    for (unsigned i = 0; i < d.mMetaDefCount; ++i)
        out << "  meta " << unsigned{d.mMetaDefs[i].mId} << " " << d.mMetaDefs[i].mType << " "
            << d.mMetaDefs[i].mName << " " << d.mMetaDefs[i].mObjectName << "\n";
    return out.str();
}

} // namespace vmsgdump

#endif
