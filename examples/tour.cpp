// The five-minute tour in the modern style: build a message, send it
// through an endpoint, receive it on a second endpoint, and read it
// structured — with owning handles and typed access, no casts.
#include "dictionary.h"

#include <vmsg.hpp>

#include <cstdio>
#include <string>

// The dictionary both endpoints share is examples/dictionary.json; the
// build generates dictionary.h from it (vmsg_add_dictionary, or
// `vmsg dict gen dictionary.json -o dictionary.h --namespace demo`):
// demo::dictionary, the tag ids demo::tags::..., and a typed builder and
// reader per message. Message telemetry requires device and name; sensor
// is a meta tag, it opens a "Sensor" object.

// Prints the errors, if any; true if there were some. The handle frees them.
bool failed(const char* what, const vmsg::Errors& errors)
{
    for (const VError& error : errors)
        std::printf("%s: %s\n", what, vmsg::errorName(error.mCode));
    return !errors.empty();
}

// The tag's value as text: each accessor is empty unless the tag is of its type.
std::string valueOf(const VTag& tag)
{
    if (auto number = vmsg::value<std::uint32_t>(tag))
        return std::to_string(*number);
    if (auto small = vmsg::value<std::uint8_t>(tag))
        return std::to_string(*small);
    if (auto real = vmsg::value<float>(tag)) {
        char text[32];
        std::snprintf(text, sizeof text, "%g", *real);
        return text;
    }
    if (auto text = vmsg::text(tag))
        return "\"" + std::string(*text) + "\"";
    return std::to_string(tag.mLength) + " bytes";
}

void printTag(const VTag& tag, int indent)
{
    std::printf("%*stag 0x%02x: %s\n", indent, "", tag.mId, valueOf(tag).c_str());
}

int main()
{
    // 1. Build a message with the generated builder: the required tags are
    //    its arguments. The handle owns the message, the message its tags.
    //    (vmsg::MessageBuilder(0x10).u32(1, 42).text(2, "pump-7")... builds
    //    the same without a dictionary.)
    std::unique_ptr<VMsg> msg = demo::messages::telemetry::Builder(42, "pump-7").sensor(0).reading(21.5f).build();

    // 2. Send it. send checks the id and, if it is defined, takes the
    //    message (msg becomes null); bytesOut writes it for the wire.
    vmsg::Endpoint sender(demo::dictionary);
    if (failed("send", sender.send(msg)))
        return 1; // refused: msg still holds it and frees it
    unsigned char block[vmsg::kMaxBlock];
    std::size_t length = 0;
    if (failed("bytesOut", sender.bytesOut(block, sizeof block, length)))
        return 1;
    std::printf("sent %zu bytes\n", length);

    // 3. Receive it. bytesIn parses and checks the block; receive hands
    //    the message over.
    vmsg::Endpoint receiver(demo::dictionary);
    if (failed("bytesIn", receiver.bytesIn(block, length)))
        return 1;
    std::unique_ptr<VMsg> received = receiver.receive();
    std::printf("received message 0x%02x, %u tags\n", received->mId, received->mTagCount);
    for (const VTag& tag : vmsg::tags(*received))
        printTag(tag, 2);
    // bytesIn checks the id only; required tags are checked on request,
    // here with the generated reader, which also gives each tag by name.
    const demo::messages::telemetry::Reader reader(*received);
    if (!reader.missingTags().empty() || reader.name() != "pump-7")
        return 1;
    std::printf("required tags: all present\n");

    // 4. Read it structured: plain tags, then one object per meta tag.
    vmsg::Structure view = vmsg::structure(demo::dictionary, *received);
    if (failed("structure", view.errors))
        return 1;
    std::printf("structured: %zu plain tag(s), %zu object(s)\n", view.message->mTags.size(),
                view.message->mObjects.size());
    for (const VTag* tag : view.message->mTags)
        printTag(*tag, 2);
    for (const CarrowObject* object : view.message->mObjects) {
        std::printf("  object opened by:\n");
        printTag(*object->mMetaTag, 4);
        std::printf("  with %zu member tag(s):\n", object->mTags.size());
        for (const VTag* tag : object->mTags)
            printTag(*tag, 4);
    }
    return 0;
}
