// Error records: a code and an owned copy of the detail bytes.
#include <VList.h>

#include <cstring>

VError::VError(unsigned short code, const void* data, unsigned short length)
    : mCode(code), mLength(length), mData(nullptr), mType(static_cast<VErrorCode>(code))
{
    if (length) {
        mData = new unsigned char[length];
        std::memcpy(mData, data, length);
    }
}

VError::~VError()
{
    delete[] mData;
}
