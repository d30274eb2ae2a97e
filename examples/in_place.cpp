// Reading and writing without allocation: a block built in a stack buffer
// with vmsg::Writer, read back in place with vmsg::Reader, and a damaged
// block that the reader stops on, saying where and why.
#include <VWire.h>

#include <cstdio>
#include <string>

// Reads every tag of a block in place and says where the walk ended.
void show(const unsigned char* block, std::size_t length)
{
    vmsg::Reader reader(block, length);
    std::printf("message 0x%02x, flags 0x%02x\n", reader.id(), reader.flags());
    vmsg::TagView tag;
    while (reader.next(tag)) {
        std::printf("  offset %2zu tag %u %-5s ", tag.offset, tag.id, vmsg::typeInfo(tag.type)->name);
        switch (tag.type) {
        case vmsg::kTypeUInt8: std::printf("%u\n", tag.u8()); break;
        case vmsg::kTypeUInt16: std::printf("%u\n", tag.u16()); break;
        case vmsg::kTypeFloat: std::printf("%g\n", tag.f32()); break;
        case vmsg::kTypeString: std::printf("\"%s\"\n", std::string(tag.text()).c_str()); break;
        default: std::printf("%zu bytes\n", tag.bytes().size());
        }
    }
    if (reader.stop() == vmsg::Stop::End)
        std::printf("  read to the end: %zu bytes\n", reader.offset());
    else
        std::printf("  stopped at byte %zu: %s (tag %u, declared length %u)\n", reader.offset(),
                    vmsg::stopName(reader.stop()), tag.id, tag.declared);
}

int main()
{
    // Write: no message object, no tag objects, no heap.
    unsigned char block[vmsg::kMaxBlock];
    vmsg::Writer writer(block, sizeof block, 0x21);
    writer.u8(5, 7);
    writer.u16(2, 258);
    writer.f32(3, 1.5f);
    writer.text(9, "hello");
    if (!writer.ok())
        return 1;
    std::printf("wrote %zu bytes\n", writer.size());
    show(block, writer.size());

    // The same block cut inside its last tag: the tags before it are read,
    // and the reader names the tag it refused.
    show(block, writer.size() - 3);
    return 0;
}
