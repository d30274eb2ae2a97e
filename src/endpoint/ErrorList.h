// Building the error lists that endpoint operations return.
#ifndef VMSG_SRC_ENDPOINT_ERRORLIST_H
#define VMSG_SRC_ENDPOINT_ERRORLIST_H

#include <VList.h>
#include <VWire.h>

#include <cstddef>
#include <memory>

namespace vmsg {

/// Appends a record of @p code with a copy of @p length bytes at @p detail.
/// On allocation failure the list is unchanged.
void addError(VList& list, VErrorCode code, const void* detail = nullptr, unsigned short length = 0);

/// A new list holding one record.
VList* errorList(VErrorCode code, const void* detail = nullptr, unsigned short length = 0);

/// The detail of an ErrParseFailed record that vmsg::parseStop reads: the
/// stop reason, then the offset as a 16-bit integer in host order.
inline constexpr unsigned short kParseStopDetailSize = 3;

/// A new list holding ErrParseFailed for a walk that ended with @p stop at
/// @p offset (at most 65535).
VList* parseFailure(Stop stop, std::size_t offset);

/// Pulls and deletes every record of @p list, then deletes the list.
void deleteErrorList(VList* list);

struct ErrorListDeleter {
    void operator()(VList* list) const { deleteErrorList(list); }
};

/// An error list under construction: released with its records if an
/// allocation fails before it is handed out.
using ErrorListPtr = std::unique_ptr<VList, ErrorListDeleter>;

} // namespace vmsg

#endif
