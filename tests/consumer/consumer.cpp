// A tiny program built against an installed libvmsg, through pkg-config and
// through find_package(vmsg): builds a message with one VTagUInt8, writes
// it, parses it back and checks the bytes. Exits 0 on success.
#include <VMsg.h>
#include <VTag.h>
#include <cVlog.h>

#include <cstdio>
#include <cstring>

namespace {

int fail(const char* what)
{
    std::fprintf(stderr, "consumer: FAILED: %s\n", what);
    return 1;
}

} // namespace

int main()
{
    VMsg msg(0x21);
    if (msg.addTag(new VTagUInt8(0x05, 0xAB)) != 1)
        return fail("addTag did not count the tag");

    // id, flags, then the tag: id, type code 4, length 1 (big-endian), value.
    const unsigned char expected[] = {0x21, 0x00, 0x05, 0x04, 0x00, 0x01, 0xAB};
    unsigned char block[VMSG_MAX_BLOCK];
    const unsigned short written = msg.getMsg(block, sizeof block);
    if (written != sizeof expected)
        return fail("getMsg wrote an unexpected number of bytes");
    if (std::memcmp(block, expected, sizeof expected) != 0)
        return fail("getMsg wrote unexpected bytes");

    VMsg* parsed = VMsg::parseMsg(block, written);
    if (!parsed)
        return fail("parseMsg returned null");
    int rc = 0;
    VTag* tag = parsed->gotoFirst();
    if (parsed->mId != 0x21 || parsed->mTagCount != 1)
        rc = fail("parsed message has the wrong id or tag count");
    else if (!tag || tag->mId != 0x05 || tag->mType != VTag::TagUInt8 || tag->mLength != 1 ||
             !tag->mData || tag->mData[0] != 0xAB)
        rc = fail("parsed tag differs");
    else {
        unsigned char again[VMSG_MAX_BLOCK];
        if (parsed->getMsg(again, sizeof again) != written ||
            std::memcmp(again, expected, sizeof expected) != 0)
            rc = fail("the parsed message does not write the same bytes");
    }
    delete parsed;
    if (rc == 0)
        std::printf("consumer: OK (%u bytes round-tripped)\n", static_cast<unsigned>(written));
    return rc;
}
