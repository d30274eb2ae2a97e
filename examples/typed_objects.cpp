// A closed message with two Sensor objects, built with the code generated
// from plant.json and read back object by object, with names for ids.
#include "plant.h"

#include <cstdio>
#include <string>

int main()
{
    namespace report = plant::messages::report;
    // The builder of a closed message offers its own tags and the members
    // of the objects these open: each sensor() opens a Sensor, value() and
    // unit() fill it.
    std::unique_ptr<VMsg> msg = report::Builder(42)
                                    .site("hall 2")
                                    .sensor(1)
                                    .value(21.5f)
                                    .unit("C")
                                    .sensor(2)
                                    .value(3.25f)
                                    .unit("bar")
                                    .build();
    unsigned char block[vmsg::kMaxBlock];
    const std::size_t length = msg->getMsg(block, sizeof block);

    // The reader gives every Sensor of the block in order, each with its
    // members, read in place.
    const report::Reader reader(block, length);
    std::printf("%s of device %u at %s, %zu bytes\n", plant::messageName(block[0]), reader.device().value_or(0),
                std::string(reader.site().value_or("?")).c_str(), length);
    for (const plant::objects::Sensor& sensor : reader.sensors())
        std::printf("  Sensor %u: %g %s\n", sensor.sensor().value_or(0), sensor.value().value_or(0),
                    std::string(sensor.unit().value_or("")).c_str());

    // A report without its device: the missing tag by name.
    std::unique_ptr<VMsg> bare = vmsg::MessageBuilder(report::id).u8(plant::tags::sensor, 3).build();
    for (unsigned char id : report::Reader(*bare).missingTags())
        std::printf("missing: tag %u \"%s\"\n", id, plant::tagName(id));
    return reader.isMessage() && reader.sensors().size() == 2 ? 0 : 1;
}
