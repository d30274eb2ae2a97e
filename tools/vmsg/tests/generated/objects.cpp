// The header generated from dictionaries/good/closed.json: a closed message
// offers exactly the tags it may carry, every object of a message is read
// typed and in order (two Sensors, a member repeated, members outside any
// object), and ids have names at compile time. Compiled with warnings as
// errors, which also shows that the deprecation marks do not get in the way
// of code that does not use what they mark.
#include "closed.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
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

// Whether T has a member function reading() or group(): the closed
// messages' classes must offer exactly the tags the message may carry.
template <typename T, typename = void>
struct HasReading : std::false_type {};
template <typename T>
struct HasReading<T, std::void_t<decltype(&T::reading)>> : std::true_type {};
template <typename T, typename = void>
struct HasGroup : std::false_type {};
template <typename T>
struct HasGroup<T, std::void_t<decltype(&T::group)>> : std::true_type {};

namespace telemetry = closed::messages::telemetry;
static_assert(HasReading<telemetry::Builder>::value, "a closed message builds the members of its objects");
static_assert(!HasReading<telemetry::Reader>::value, "members are read through the objects");
static_assert(!HasGroup<telemetry::Builder>::value && !HasGroup<telemetry::Reader>::value,
              "a tag the closed message does not list is not offered");
static_assert(!HasReading<closed::messages::ping::Builder>::value, "an empty optional list offers nothing");
static_assert(HasGroup<closed::messages::status::Builder>::value && HasGroup<closed::messages::status::Reader>::value,
              "an open message offers every tag");

static_assert(std::string_view(closed::tagName(33)) == "reading" && closed::tagName(99) == nullptr,
              "tag names at compile time");
static_assert(std::string_view(closed::messageName(17)) == "ping" && closed::messageName(0) == nullptr,
              "message names at compile time");

std::vector<unsigned char> write(VMsg& msg)
{
    std::vector<unsigned char> block(vmsg::kMaxBlock);
    block.resize(msg.getMsg(block.data(), static_cast<unsigned short>(block.size())));
    return block;
}

void checkSensors(const telemetry::Reader& r, const char* from)
{
    const auto& sensors = r.sensors();
    std::printf("  %s: device %u, %zu sensors\n", from, r.device().value_or(0), sensors.size());
    check(r.isMessage() && r.missingTags().empty() && r.device() == 7u, "the message reads whole");
    check(sensors.size() == 2, "two Sensor objects");
    if (sensors.size() != 2)
        return;
    check(sensors[0].sensor() == 1 && sensors[0].reading() == 2.5f && sensors[0].unit() == "C",
          "the first Sensor's members");
    // The second Sensor carries its reading twice: the first one counts,
    // and none of them is the first Sensor's.
    check(sensors[1].sensor() == 2 && sensors[1].reading() == 3.5f && !sensors[1].unit() &&
              sensors[1].count(closed::tags::reading) == 2 && sensors[0].count(closed::tags::reading) == 1,
          "the second Sensor's members");
    check(r.sensor() == 1 && r.count(closed::tags::sensor) == 2 && r.count(closed::tags::reading) == 3,
          "the message's own view of the tags");
}

void closedMessage()
{
    std::unique_ptr<VMsg> msg = telemetry::Builder(7)
                                    .sensor(1)
                                    .reading(2.5f)
                                    .unit("C")
                                    .sensor(2)
                                    .reading(3.5f)
                                    .reading(9.0f)
                                    .build();
    const std::vector<unsigned char> block = write(*msg);
    checkSensors(telemetry::Reader(*msg), "message");
    checkSensors(telemetry::Reader(block.data(), block.size()), "block");

    // A block cut inside the second Sensor keeps the objects read so far.
    const telemetry::Reader cut(block.data(), block.size() - 2);
    check(!cut.isMessage() && cut.sensors().size() == 2 && cut.sensors()[1].reading() == 3.5f, "a cut block");

    // A deprecated tag is still built and read, by code that says so.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    std::unique_ptr<VMsg> old = telemetry::Builder(8).site("north").build();
    check(telemetry::Reader(*old).site() == "north", "a deprecated tag still works");
#pragma GCC diagnostic pop

    // Missing tags by name.
    std::unique_ptr<VMsg> bare = closed::messages::ping::Builder().build();
    bare->mId = telemetry::id;
    const std::vector<unsigned char> missing = telemetry::Reader(*bare).missingTags();
    check(missing.size() == 1 && std::string(closed::tagName(missing[0])) == "device", "a missing tag by name");
}

// In an open message a member belongs to the object opened last, up to the
// next meta tag; before any object, or after a meta tag whose object does
// not have it as a member, it is the message's own.
void openMessage()
{
    namespace status = closed::messages::status;
    std::unique_ptr<VMsg> msg =
        status::Builder().reading(1.0f).sensor(5).reading(2.0f).group().reading(3.0f).sensor(6).unit("V").build();
    const status::Reader r(*msg);
    check(r.reading() == 1.0f && r.unit() == std::nullopt && r.count(closed::tags::reading) == 3,
          "members outside objects are the message's");
    check(r.sensors().size() == 2 && r.groups().size() == 1, "every object, by kind");
    if (r.sensors().size() == 2)
        check(r.sensors()[0].reading() == 2.0f && !r.sensors()[1].reading() && r.sensors()[1].unit() == "V",
              "each Sensor has its own members");
    check(!r.groups().empty() && r.groups()[0].group() && r.groups()[0].count(closed::tags::reading) == 0,
          "the group has no members");
}

} // namespace

int main()
{
    closedMessage();
    openMessage();
    std::printf("%s\n", failures ? "objects FAILED" : "objects ok");
    return failures ? 1 : 0;
}
