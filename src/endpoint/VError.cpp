// Error records: a code and an owned copy of the detail bytes.
#include <VList.h>

#include <cstring>

VError::VError(unsigned short code, const void* data, unsigned short length)
    : mCode(code), mLength(length), mData(nullptr), mType(static_cast<VErrorCode>(code))
{
    if (length) {
        // A missing detail reads as zero bytes rather than through null.
        mData = new unsigned char[length]();
        if (data)
            std::memcpy(mData, data, length);
    }
}

VError::~VError()
{
    delete[] mData;
}
