#include "DemoProtocol.h"

namespace demo {

const char* tagName(unsigned char id)
{
    for (unsigned i = 0; i < dictionary.mTagDefCount; ++i) {
        if (dictionary.mTagDefs[i].mId == id)
            return dictionary.mTagDefs[i].mName;
    }
    return nullptr;
}

} // namespace demo
