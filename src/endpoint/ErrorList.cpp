#include "endpoint/ErrorList.h"

#include <cstring>
#include <memory>

namespace vmsg {

void addError(VList& list, VErrorCode code, const void* detail, unsigned short length)
{
    std::unique_ptr<VError> error(new VError(static_cast<unsigned short>(code), detail, length));
    error->mType = code;
    list.add(error.get());
    static_cast<void>(error.release()); // the list owns it now
}

VList* errorList(VErrorCode code, const void* detail, unsigned short length)
{
    ErrorListPtr list(new VList());
    addError(*list, code, detail, length);
    return list.release();
}

VList* parseFailure(Stop stop, std::size_t offset)
{
    unsigned char detail[kParseStopDetailSize];
    detail[0] = static_cast<unsigned char>(stop);
    const auto at = static_cast<unsigned short>(offset);
    std::memcpy(detail + 1, &at, sizeof at);
    return errorList(ErrParseFailed, detail, sizeof detail);
}

void deleteErrorList(VList* list)
{
    if (!list)
        return;
    while (void* item = list->pull())
        delete static_cast<VError*>(item);
    delete list;
}

} // namespace vmsg
