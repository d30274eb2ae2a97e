// Builds a greeting with the builder generated from hello.json, writes it
// as a block, reads the block back in place with the generated reader and
// prints what came out. Exits 0 when the values match.
#include "hello.h"

#include <cstdio>
#include <string>

int main()
{
    std::unique_ptr<VMsg> msg = hello::messages::greeting::Builder("hello", 2024).build();
    unsigned char block[vmsg::kMaxBlock];
    const unsigned short length = msg->getMsg(block, sizeof block);
    std::printf("block of %u bytes:", length);
    for (unsigned i = 0; i < length; ++i)
        std::printf(" %02x", block[i]);
    std::printf("\n");

    const hello::messages::greeting::Reader greeting(block, length);
    const bool ok = greeting.isMessage() && greeting.text() == "hello" && greeting.year() == 2024 &&
                    greeting.missingTags().empty();
    if (ok)
        std::printf("parsed: \"%s\", %u\n", std::string(*greeting.text()).c_str(), unsigned{*greeting.year()});
    return ok ? 0 : 1;
}
