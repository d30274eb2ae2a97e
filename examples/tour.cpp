// The five-minute tour: build a message, send it through an endpoint,
// receive it on a second endpoint, and read it structured.
#include <CarrowMessage.h>

#include <cstdio>
#include <vector>

// The dictionary both endpoints share: message 0x10 requires tags 1 and 2;
// tag 0x20 is a meta tag, it opens a "sensor" object.
const unsigned char kRequired[] = {1, 2};
const CarrowMsgDef kMessages[] = {{0x10, 2, kRequired}};
const CarrowTagDef kTags[] = {{1, VTag::TagUInt32, "device"},
                              {2, VTag::TagString, "name"},
                              {0x20, VTag::TagUInt8, "sensor"},
                              {0x21, VTag::TagFloat, "reading"}};
const CarrowMetaDef kMetas[] = {{0x20, VTag::TagUInt8, "sensor", "Sensor"}};
const CarrowDictDef kDictionary = {{0, 0}, 1, 4, 1, kMessages, kTags, kMetas};

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
    VMsg* msg = new VMsg(0x10);
    char name[] = "pump-7";
    msg->addTag(new VTagUInt32(1, 42u));
    msg->addTag(new VTagString(2, name));
    msg->addTag(new VTagUInt8(0x20, static_cast<unsigned char>(0)));
    msg->addTag(new VTagFloat(0x21, 21.5f));

    // 2. Send it. sendMessage checks the id and queues the message (the
    //    endpoint owns it from here on); bytesOut writes it for the wire.
    Carrow sender(&kDictionary);
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
    Carrow receiver(&kDictionary);
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
    CarrowMessage* view = CarrowMessage::parseVMsg(&kDictionary, received);
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
