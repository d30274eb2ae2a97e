// The structured view's one builder, shared by CarrowMessage::parseVMsg
// (errors in the class-wide list) and vmsg::structure (errors returned).
#ifndef VMSG_SRC_STRUCTURED_STRUCTURE_H
#define VMSG_SRC_STRUCTURED_STRUCTURE_H

#include <CarrowMessage.h>

#include "endpoint/ErrorList.h"

#include <memory>

namespace vmsg {

/// Copies the tags of @p msg, following its chain (the cursor is not
/// used), and groups the copies by @p dict. When the copies are not
/// mTagCount of them, writes the warning, sets @p errors to one
/// ErrTagCountMismatch record, deletes the copies and returns null.
std::unique_ptr<CarrowMessage> buildStructure(const CarrowDictDef& dict, const VMsg& msg, ErrorListPtr& errors);

} // namespace vmsg

#endif
