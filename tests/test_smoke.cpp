#include <VMsg.h>

#include "LogCapture.h"

#include <gtest/gtest.h>

TEST(Smoke, ExampleMessageRoundTrip)
{
    LogCapture log("VMsg");
    VMsg msg(0x21);
    msg.addTag(new VTagUInt8(5, 7));
    unsigned char out[16] = {};
    ASSERT_EQ(msg.getMsg(out, sizeof out), 7);
    const unsigned char expected[] = {0x21, 0x00, 0x05, 0x04, 0x00, 0x01, 0x07};
    EXPECT_EQ(0, memcmp(out, expected, sizeof expected));
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].rfind("VMsg() - ", 0), 0u);
}
