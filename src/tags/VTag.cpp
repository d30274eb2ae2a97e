// The tag base: fields, payload ownership and payload replacement.
#include <VTag.h>

#include "logging/Categories.h"

#include <cstring>

VTag::VTag(unsigned char id, VTagType type)
    : cVlog(vmsg::log::kVTag), mId(id), mLength(0), mData(nullptr), mNext(nullptr)
{
    // Copied as bytes: a plain VTag may carry a code outside the enumeration.
    std::memcpy(&mType, &type, sizeof mType);
}

VTag::~VTag()
{
    delete[] mData;
}

unsigned int VTag::getMaxLength()
{
    return 0;
}

void VTag::setData(void* data, unsigned short size)
{
    unsigned short kept = data ? size : 0;
    if (kept > vmsg::kMaxPayload)
        kept = vmsg::kMaxPayload;
    // Allocate before releasing, so a failed allocation leaves the tag as it was.
    unsigned char* payload = new unsigned char[kept];
    if (kept)
        std::memcpy(payload, data, kept);
    delete[] mData;
    mData = payload;
    mLength = kept;
}

void VTag::setText(const char* text, unsigned short count)
{
    unsigned char* payload = new unsigned char[count + 1u];
    if (count)
        std::memcpy(payload, text, count);
    payload[count] = 0;
    delete[] mData;
    mData = payload;
    mLength = static_cast<unsigned short>(count + 1u);
}
