#include "endpoint/ErrorList.h"

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

void deleteErrorList(VList* list)
{
    if (!list)
        return;
    while (void* item = list->pull())
        delete static_cast<VError*>(item);
    delete list;
}

} // namespace vmsg
