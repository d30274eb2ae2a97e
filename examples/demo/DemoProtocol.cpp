#include "DemoProtocol.h"

namespace demo {

namespace {

const unsigned char kTelemetryRequired[] = {kTagDevice, kTagName};
const unsigned char kCommandRequired[] = {kTagDevice, kTagAction};

const CarrowMsgDef kMessages[] = {
    {kMsgTelemetry, 2, kTelemetryRequired},
    {kMsgCommand, 2, kCommandRequired},
};

const CarrowTagDef kTags[] = {
    {kTagDevice, VTag::TagUInt32, "device"},   {kTagName, VTag::TagString, "name"},
    {kTagUptime, VTag::TagUInt32, "uptime"},   {kTagSensor, VTag::TagUInt8, "sensor"},
    {kTagReading, VTag::TagFloat, "reading"},  {kTagUnit, VTag::TagString, "unit"},
    {kTagStatus, VTag::TagUInt16, "status"},   {kTagAction, VTag::TagUInt8, "action"},
    {kTagPayload, VTag::TagBytes, "payload"},
};

const CarrowMetaDef kMetas[] = {
    {kTagSensor, VTag::TagUInt8, "sensor", "Sensor"},
};

const CarrowDictDef kDictionary = {
    {0, 0},
    sizeof kMessages / sizeof kMessages[0],
    sizeof kTags / sizeof kTags[0],
    sizeof kMetas / sizeof kMetas[0],
    kMessages,
    kTags,
    kMetas,
};

} // namespace

const CarrowDictDef& dictionary()
{
    return kDictionary;
}

const char* tagName(unsigned char id)
{
    for (const CarrowTagDef& def : kTags) {
        if (def.mId == id)
            return def.mName;
    }
    return nullptr;
}

} // namespace demo
