// The five-minute tour in the classic API: build a message, send it
// through an endpoint, receive it on a second endpoint, and read it
// structured. examples/tour.cpp does the same with the modern layer.
#include "dictionary.h"

#include <CarrowMessage.h>

#include <cstdio>
#include <vector>

// The dictionary both endpoints share is examples/dictionary.json; the
// build generates dictionary.h from it (vmsg_add_dictionary, or
// `vmsg dict gen dictionary.json -o dictionary.h --namespace demo`):
// demo::dictionary, the tag ids demo::tags::..., and a typed builder and
// reader per message. Message telemetry requires device and name; sensor
// is a meta tag, it opens a "Sensor" object.

// Prints and deletes an error list; true if there was one.
bool failed(const char* what, VList* errors)
{
    if (!errors)
        return false;
    while (void* item = errors->pull()) {
        VError* error = static_cast<VError*>(item);
        std::printf("%s: error %u\n", what, error->mCode);
        delete error;
    }
    delete errors;
    return true;
}

void printTag(const VTag* tag, int indent)
{
    std::printf("%*stag 0x%02x: ", indent, "", tag->mId);
    switch (tag->mType) {
    case VTag::TagUInt32:
        std::printf("%u\n", static_cast<const VTagUInt32*>(tag)->getValue());
        break;
    case VTag::TagUInt8:
        std::printf("%u\n", static_cast<const VTagUInt8*>(tag)->getValue());
        break;
    case VTag::TagFloat:
        std::printf("%g\n", static_cast<const VTagFloat*>(tag)->getFloatValue());
        break;
    case VTag::TagString:
        std::printf("\"%s\"\n", reinterpret_cast<const char*>(tag->mData));
        break;
    default:
        std::printf("%u bytes\n", tag->mLength);
    }
}

int main()
{
    // 1. Build a message. It owns every tag added to it.
    VMsg* msg = new VMsg(demo::messages::telemetry::id);
    char name[] = "pump-7";
    msg->addTag(new VTagUInt32(demo::tags::device, 42u));
    msg->addTag(new VTagString(demo::tags::name, name));
    msg->addTag(new VTagUInt8(demo::tags::sensor, static_cast<unsigned char>(0)));
    msg->addTag(new VTagFloat(demo::tags::reading, 21.5f));

    // 2. Send it. sendMessage checks the id and queues the message (the
    //    endpoint owns it from here on); bytesOut writes it for the wire.
    Carrow sender(&demo::dictionary);
    if (failed("sendMessage", sender.sendMessage(msg))) {
        delete msg; // refused: still ours
        return 1;
    }
    unsigned char block[VMSG_MAX_BLOCK];
    unsigned short length = sizeof block;
    if (failed("bytesOut", sender.bytesOut(block, &length)))
        return 1;
    std::printf("sent %u bytes\n", length);

    // 3. Receive it. bytesIn parses and checks the block; getMessage hands
    //    the message over to us.
    Carrow receiver(&demo::dictionary);
    if (failed("bytesIn", receiver.bytesIn(block, length)))
        return 1;
    VMsg* received = receiver.getMessage();
    std::printf("received message 0x%02x, %u tags\n", received->mId, received->mTagCount);
    std::vector<unsigned char> ids;
    received->gotoFirst(); // the check left the cursor past the end
    while (VTag* tag = received->getTag()) {
        printTag(tag, 2);
        ids.push_back(tag->mId);
    }
    // bytesIn checks the id only; required tags are checked on request.
    const CarrowMsgDef* def = receiver.findMsgDef(received->mId);
    VList* missing = receiver.checkMessageTags(def, ids.data(), static_cast<unsigned char>(ids.size()));
    if (failed("checkMessageTags", missing)) {
        delete received;
        return 1;
    }
    std::printf("required tags: all present\n");

    // 4. Read it structured: plain tags, then one object per meta tag.
    CarrowMessage* view = CarrowMessage::parseVMsg(&demo::dictionary, received);
    if (!view) {
        delete received;
        return 1;
    }
    std::printf("structured: %zu plain tag(s), %zu object(s)\n", view->mTags.size(),
                view->mObjects.size());
    for (const VTag* tag : view->mTags)
        printTag(tag, 2);
    for (const CarrowObject* object : view->mObjects) {
        std::printf("  object opened by:\n");
        printTag(object->mMetaTag, 4);
        std::printf("  with %zu member tag(s):\n", object->mTags.size());
        for (const VTag* tag : object->mTags)
            printTag(tag, 4);
    }
    delete view;
    delete received;
    return 0;
}
