// Lookups in the application's dictionary: plain linear searches in array
// order, the first matching entry wins.
#include <Carrow.h>

namespace {

template <typename Def>
const Def* findById(const Def* defs, unsigned char count, unsigned char id)
{
    for (unsigned i = 0; i < count; ++i) {
        if (defs[i].mId == id)
            return &defs[i];
    }
    return nullptr;
}

} // namespace

const CarrowMsgDef* Carrow::findMsgDef(unsigned char id)
{
    return mDict ? findById(mDict->mMsgDefs, mDict->mMsgDefCount, id) : nullptr;
}

const CarrowTagDef* Carrow::findTagDef(unsigned char id)
{
    return mDict ? findById(mDict->mTagDefs, mDict->mTagDefCount, id) : nullptr;
}

bool Carrow::isMeta(const CarrowDictDef* dict, unsigned char id)
{
    return dict && findById(dict->mMetaDefs, dict->mMetaDefCount, id) != nullptr;
}
