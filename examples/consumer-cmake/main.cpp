// Builds a message, writes it as a block, parses the block back and prints
// what came out. Exits 0 when the parsed message matches.
#include <VMsg.h>

#include <cstdio>

int main()
{
    VMsg msg(0x21);
    char greeting[] = "hello";
    msg.addTag(new VTagString(1, greeting));
    msg.addTag(new VTagUInt16(2, static_cast<unsigned short>(2024)));

    unsigned char block[VMSG_MAX_BLOCK];
    const unsigned short length = msg.getMsg(block, sizeof block);
    std::printf("block of %u bytes:", length);
    for (unsigned i = 0; i < length; ++i)
        std::printf(" %02x", block[i]);
    std::printf("\n");

    VMsg* parsed = VMsg::parseMsg(block, length);
    if (!parsed)
        return 1;
    parsed->gotoFirst();
    VTag* text = parsed->getTag();
    VTag* number = parsed->getTag();
    const bool ok = parsed->mTagCount == 2 && text && text->mType == VTag::TagString && number &&
                    number->mType == VTag::TagUInt16 && static_cast<VTagUInt16*>(number)->getValue() == 2024;
    if (ok)
        std::printf("parsed: \"%s\", %u\n", reinterpret_cast<const char*>(text->mData),
                    static_cast<VTagUInt16*>(number)->getValue());
    delete parsed;
    return ok ? 0 : 1;
}
