// Prints the library's wire constants and type table in the form of the
// dissector's constants block and TYPES table, so that the test
// wireshark.type_table can compare them with vmsg.lua.
#include <VWire.h>

#include <cstdio>

int main()
{
    std::printf("local MESSAGE_HEADER_SIZE = %zu\n", vmsg::kMessageHeaderSize);
    std::printf("local TAG_HEADER_SIZE = %zu\n", vmsg::kTagHeaderSize);
    std::printf("local MAX_PAYLOAD = %zu\n", vmsg::kMaxMessagePayload);
    std::printf("local MORE_SEGMENTS = 0x%02x\n", unsigned{vmsg::kMoreSegments});
    std::printf("local TYPES = {\n");
    for (const vmsg::TypeInfo& type : vmsg::kTypes)
        std::printf("    [%u] = { name = \"%s\", fixed = %s, max = %u },\n", type.code, type.name,
                    type.fixedSize ? "true" : "false", type.maxPayload);
    std::printf("}\n");
    return 0;
}
