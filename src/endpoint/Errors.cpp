// Error lists as owning handles, and the names and details of error codes.
#include <vmsg.hpp>

#include "endpoint/ErrorList.h"

#include <cstring>

namespace vmsg {

Errors::~Errors()
{
    deleteErrorList(mList);
}

Errors& Errors::operator=(Errors&& other) noexcept
{
    if (this != &other) {
        deleteErrorList(mList);
        mList = other.mList;
        other.mList = nullptr;
    }
    return *this;
}

std::size_t Errors::size() const
{
    // Counted from the nodes: the list's own count is 16 bits wide.
    std::size_t count = 0;
    for (const_iterator it = begin(); it != end(); ++it)
        ++count;
    return count;
}

bool Errors::contains(unsigned code) const
{
    for (const VError& error : *this) {
        if (error.mCode == code)
            return true;
    }
    return false;
}

const char* errorName(unsigned code)
{
    switch (code) {
    case ErrUnknownMessage: return "ErrUnknownMessage";
    case ErrMissingTag: return "ErrMissingTag";
    case ErrBufferTooSmall: return "ErrBufferTooSmall";
    case ErrLengthMismatch: return "ErrLengthMismatch";
    case ErrParseFailed: return "ErrParseFailed";
    case ErrNullArgument: return "ErrNullArgument";
    case ErrTagCountMismatch: return "ErrTagCountMismatch";
    case ErrQueueFull: return "ErrQueueFull";
    case ErrJoinTooLarge: return "ErrJoinTooLarge";
    default: return "unknown error";
    }
}

std::optional<int> errorDetail(const VError& error)
{
    const auto sized = [&](unsigned short size) { return error.mData && error.mLength == size; };
    switch (error.mCode) {
    case ErrUnknownMessage:
    case ErrMissingTag:
        if (sized(1))
            return error.mData[0];
        break;
    case ErrBufferTooSmall:
    case ErrLengthMismatch:
    case ErrTagCountMismatch:
        // Two bytes of a 16-bit integer in host order; the sizes are
        // unsigned, the difference of counts signed.
        if (sized(2)) {
            if (error.mCode != ErrTagCountMismatch) {
                unsigned short size;
                std::memcpy(&size, error.mData, sizeof size);
                return size;
            }
            short difference;
            std::memcpy(&difference, error.mData, sizeof difference);
            return difference;
        }
        break;
    default:
        break;
    }
    return std::nullopt;
}

std::optional<ParseStop> parseStop(const VError& error)
{
    if (error.mCode != ErrParseFailed || !error.mData || error.mLength != kParseStopDetailSize ||
        error.mData[0] > static_cast<unsigned char>(Stop::TooLong))
        return std::nullopt;
    unsigned short offset;
    std::memcpy(&offset, error.mData + 1, sizeof offset);
    return ParseStop{static_cast<Stop>(error.mData[0]), offset};
}

} // namespace vmsg
