// The protocol endpoint: checks messages against the dictionary and queues
// them in both directions.
#include <Carrow.h>

#include "endpoint/ErrorList.h"
#include "endpoint/RequiredTags.h"
#include "logging/Categories.h"

#include <memory>

namespace {

void deleteQueuedMessages(VList& queue)
{
    while (void* item = queue.pull())
        delete static_cast<VMsg*>(item);
}

} // namespace

Carrow::Carrow(const CarrowDictDef* dict) : cVlog(vmsg::log::kCarrow), mDict(dict) {}

Carrow::~Carrow()
{
    // The endpoint owns every message still waiting in its queues.
    deleteQueuedMessages(mIncoming);
    deleteQueuedMessages(mOutgoing);
}

VList* Carrow::checkMessage(VMsg* msg)
{
    if (!msg)
        return vmsg::errorList(ErrNullArgument);
    if (!findMsgDef(msg->mId))
        return vmsg::errorList(ErrUnknownMessage, &msg->mId, 1);
    // Walk the tags as a reader would; only the low 8 bits of the count
    // bound the walk. The cursor is left past the last tag.
    const unsigned walk = msg->mTagCount & 0xFFu;
    if (walk) {
        msg->gotoFirst();
        for (unsigned i = 0; i < walk && msg->getTag(); ++i) {
        }
    }
    return nullptr;
}

VList* Carrow::sendMessage(VMsg* msg)
{
    if (VList* errors = checkMessage(msg))
        return errors;
    mOutgoing.add(msg);
    return nullptr;
}

bool Carrow::bytesOutReady()
{
    // The 16-bit entry count wraps; the head pointer does not.
    return !mOutgoing.empty();
}

VList* Carrow::bytesOut(unsigned char* out, unsigned short* length)
{
    if (!length)
        return vmsg::errorList(ErrNullArgument);
    auto* msg = static_cast<VMsg*>(mOutgoing.getfirst());
    if (!msg) {
        *length = 0;
        return nullptr;
    }
    // A message of more than 1022 payload bytes fits no block: getMsg
    // refuses it whatever the buffer, so it is never kept waiting for one
    // (that would stall the queue behind it). It goes on to getMsg, which
    // writes nothing, and is reported as not sent.
    const unsigned needed = msg->mLength + unsigned{vmsg::kMessageHeaderSize};
    if (needed <= vmsg::kMaxBlock && (!out || *length < needed)) {
        const auto detail = static_cast<unsigned short>(needed);
        return vmsg::errorList(ErrBufferTooSmall, &detail, sizeof detail);
    }
    const unsigned short written = msg->getMsg(out, *length);
    const bool sent = written == needed;
    // Prepare the report before the message goes, so that running out of
    // memory cannot lose both the message and the error.
    vmsg::ErrorListPtr errors(sent ? nullptr : vmsg::errorList(ErrLengthMismatch));
    mOutgoing.pull();
    delete msg;
    if (!errors)
        *length = written;
    return errors.release();
}

VList* Carrow::bytesIn(const unsigned char* in, unsigned short length)
{
    std::unique_ptr<VMsg> msg(VMsg::parseMsg(in, length));
    if (!msg)
        return vmsg::errorList(ErrParseFailed);
    if (VList* errors = checkMessage(msg.get()))
        return errors;
    mIncoming.add(msg.get());
    static_cast<void>(msg.release()); // the queue owns it now
    return nullptr;
}

VMsg* Carrow::getMessage()
{
    return static_cast<VMsg*>(mIncoming.pull());
}

VList* Carrow::checkMessageTags(const CarrowMsgDef* def, unsigned char* ids, unsigned char count)
{
    if (!def)
        return vmsg::errorList(ErrNullArgument);
    if (!ids)
        count = 0;
    vmsg::ErrorListPtr errors(new VList());
    vmsg::matchRequiredTags(*def, ids, count,
                            [&](unsigned char id) { vmsg::addError(*errors, ErrMissingTag, &id, 1); });
    if (errors->empty())
        return nullptr;
    return errors.release();
}
