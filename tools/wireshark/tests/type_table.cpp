// Prints the library's type table in the form of the dissector's TYPES
// table, so that the test wireshark.type_table can compare the two.
#include <VWire.h>

#include <cstdio>

int main()
{
    std::printf("local TYPES = {\n");
    for (const vmsg::TypeInfo& type : vmsg::kTypes)
        std::printf("    [%u] = { name = \"%s\", fixed = %s, max = %u },\n", type.code, type.name,
                    type.fixedSize ? "true" : "false", type.maxPayload);
    std::printf("}\n");
    return 0;
}
