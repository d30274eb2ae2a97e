// Every message of two dictionaries through its generated builder and
// reader: built with all its tags, written, and read back from the message
// and, in place, from the block; then built without its required tags.
// The build also shows that the generated headers compile warning-free.
#include "dictionary.h"
#include "full.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

int failures = 0;

void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "FAILED: %s\n", what);
        ++failures;
    }
}

std::vector<unsigned char> write(VMsg& msg)
{
    std::vector<unsigned char> block(vmsg::kMaxBlock);
    block.resize(msg.getMsg(block.data(), static_cast<unsigned short>(block.size())));
    return block;
}

template <typename Reader>
void checkFull(const Reader& r, const char* from)
{
    std::printf("  %s: device %u, name %s, level %u, flag %u, blob %zu bytes, reading %g, mark %d, sensor %u\n", from,
                r.device().value_or(0), std::string(r.name().value_or("?")).c_str(), r.level().value_or(0),
                r.flag().value_or(0), r.blob().value_or("").size(), r.reading().value_or(0), r.mark(),
                r.sensor().value_or(0));
    check(r.isMessage() && r.stop() == vmsg::Stop::End, "the message reads whole");
    check(r.device() == 7u && r.name() == "pump" && r.level() == 300 && r.flag() == 1, "the values come back");
    check(r.blob() == std::string_view("\x01\x02\x03", 3) && r.reading() == 2.5f && r.mark() && r.sensor() == 9,
          "the values come back");
    check(r.missingTags().empty() && r.count(full::tags::device) == 2, "the required tags are there");
}

void fullDictionary()
{
    namespace t = full::messages::telemetry;
    std::unique_ptr<VMsg> msg = t::Builder(7, "pump", 8)
                                    .level(300)
                                    .flag(1)
                                    .blob("\x01\x02\x03", 3)
                                    .reading(2.5f)
                                    .mark()
                                    .sensor(9)
                                    .build();
    const std::vector<unsigned char> block = write(*msg);
    check(!block.empty(), "the message is written");
    checkFull(t::Reader(*msg), "message");
    checkFull(t::Reader(block.data(), block.size()), "block");

    // Built without its required tags, it reports them, in order, as
    // vmsg::missingTags does.
    std::unique_ptr<VMsg> bare = full::messages::hello::Builder().build();
    bare->mId = t::id;
    const t::Reader missing(*bare);
    check(missing.missingTags() == std::vector<unsigned char>{1, 2, 1}, "the missing tags are named");
    check(missing.missingTags() == vmsg::missingTags(full::detail::messages[1], *bare), "as missingTags says");
    check(!full::messages::bye::Reader(*msg).isMessage(), "a reader tells another message id");
    check(!t::Reader(block.data(), 1).isMessage(), "a short block is no message");
    // A block cut inside a tag keeps what came before and says why.
    const t::Reader cut(block.data(), block.size() - 1);
    check(cut.stop() == vmsg::Stop::LengthBeyondBlock && cut.device() == 7u && !cut.sensor(), "a cut block");
    // Its required tags may all be there, yet it is not a whole message.
    check(!cut.isMessage(), "a cut block is no message");
    std::vector<unsigned char> unknown = block;
    unknown.insert(unknown.end(), {0x01, 0x07, 0x00, 0x00});
    const t::Reader typed(unknown.data(), unknown.size());
    check(typed.stop() == vmsg::Stop::UnknownType && !typed.isMessage(), "an unknown type code ends the message");
}

void demoDictionary()
{
    namespace tel = demo::messages::telemetry;
    std::unique_ptr<VMsg> msg = tel::Builder(42, "pump-7").uptime(3600).sensor(0).reading(21.5f).unit("C").build();
    vmsg::Endpoint sender(demo::dictionary);
    check(sender.send(msg).empty(), "the endpoint takes the message");
    unsigned char block[vmsg::kMaxBlock];
    std::size_t length = 0;
    check(sender.bytesOut(block, sizeof block, length).empty(), "the endpoint writes it");
    const tel::Reader r(block, length);
    std::printf("  demo telemetry: %zu bytes, device %u, name %s, unit %s\n", length, r.device().value_or(0),
                std::string(r.name().value_or("?")).c_str(), std::string(r.unit().value_or("?")).c_str());
    check(r.device() == 42u && r.name() == "pump-7" && r.uptime() == 3600u && r.reading() == 21.5f,
          "the demo's values come back");
    check(r.missingTags().empty(), "nothing is missing");
    // The generated dictionary drives the endpoint and the structured view.
    vmsg::Endpoint receiver(demo::dictionary);
    check(receiver.bytesIn(block, length).empty(), "the endpoint accepts the block");
    std::unique_ptr<VMsg> received = receiver.receive();
    const vmsg::Structure view = vmsg::structure(demo::dictionary, *received);
    check(view && view.message->mTags.size() == 3 && view.message->mObjects.size() == 1, "one Sensor object");
    check(std::string(demo::detail::metas[0].mObjectName) == "Sensor", "named Sensor");
}

} // namespace

int main()
{
    fullDictionary();
    demoDictionary();
    std::printf("%s\n", failures ? "round trip FAILED" : "round trip ok");
    return failures ? 1 : 0;
}
