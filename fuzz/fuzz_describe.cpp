// Fuzz target: any block a peer can send, described as text and as JSON,
// without a dictionary and with one that has a closed message, an open one
// and an object with members.
//
// describe and describeJson always answer (a block too short or too long is
// reported, not refused); the text names the message id of every block the
// header of which is there; a block parseMsg reads whole formats the same
// way as a message, and formatting leaves the message's cursor where it was.
#include "FuzzSupport.h"

#include <VDictionary.h>
#include <VFormat.h>
#include <VMsg.h>
#include <VWire.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

// The longest block the parser reads: its length is 16-bit.
constexpr std::size_t kMaxParsed = 65535;

const char* const kDictionary = R"({
  "messages": [
    { "id": 16, "name": "telemetry", "required": ["device", "name"] },
    { "id": 17, "name": "command", "required": ["device"], "optional": ["action", "sensor"] }
  ],
  "tags": [
    { "id": 1, "name": "device", "type": "u32" },
    { "id": 2, "name": "name", "type": "str", "deprecated": true },
    { "id": 32, "name": "sensor", "type": "u8" },
    { "id": 33, "name": "reading", "type": "f32" },
    { "id": 34, "name": "unit", "type": "str" },
    { "id": 48, "name": "action", "type": "bytes" }
  ],
  "meta": [ { "id": 32, "name": "sensor", "type": "u8", "object": "Sensor", "members": ["reading", "unit"] } ]
})";

const vmsg::Dictionary& dictionary()
{
    static const vmsg::Dictionary dict = vmsg::Dictionary::parse(kDictionary, "fuzz");
    return dict;
}

void describeBoth(const unsigned char* data, std::size_t size, const vmsg::Dictionary* dict)
{
    const std::string text = vmsg::describe(data, size, dict);
    const std::string json = vmsg::describeJson(data, size, dict);
    FUZZ_CHECK(!text.empty() && text.back() == '\n');
    FUZZ_CHECK(json.size() >= 2 && json.front() == '{');
    if (size >= vmsg::kMessageHeaderSize && size <= kMaxParsed) {
        char id[16];
        std::snprintf(id, sizeof id, "message 0x%02x", unsigned{data[0]});
        FUZZ_CHECK(text.compare(0, std::char_traits<char>::length(id), id) == 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    describeBoth(data, size, nullptr);
    describeBoth(data, size, &dictionary());

    if (size < vmsg::kMessageHeaderSize || size > kMaxParsed)
        return 0;
    std::unique_ptr<VMsg> msg(VMsg::parseMsg(const_cast<unsigned char*>(data), static_cast<unsigned short>(size)));
    if (!msg)
        return 0;
    msg->gotoFirst();
    msg->getTag();
    const VTag* cursor = msg->mCurrentTag;
    const std::string text = vmsg::format(*msg, &dictionary());
    FUZZ_CHECK(!text.empty());
    FUZZ_CHECK(msg->mCurrentTag == cursor);
    return 0;
}
