// The modern layer: owning handles that free what they hold on every path,
// typed access that is empty on a type mismatch, walks that leave the
// cursor alone, and builder, missingTags and structure equal to the
// classic operations they stand for.
#include <VList.h>
#include <vmsg.hpp>

#include "LogCapture.h"
#include "TestHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

static_assert(!std::is_copy_constructible_v<vmsg::Errors> && std::is_nothrow_move_constructible_v<vmsg::Errors>,
              "an error list has one owner");
static_assert(!std::is_copy_constructible_v<vmsg::Endpoint> && std::is_move_constructible_v<vmsg::Endpoint>,
              "queued messages have one owner");

namespace {

const unsigned char kRequired[] = {1, 2};
const CarrowMsgDef kMessages[] = {{0x10, 2, kRequired}};
const CarrowMetaDef kMetas[] = {{0x20, VTag::TagUInt8, "sensor", "Sensor"}};
const CarrowDictDef kDict = {{0, 0}, 1, 0, 1, kMessages, nullptr, kMetas};

Bytes blockOf(VMsg& msg)
{
    Bytes out(vmsg::kMaxBlock);
    out.resize(msg.getMsg(out.data(), static_cast<unsigned short>(out.size())));
    return out;
}

std::vector<unsigned char> idsOf(const VMsg& msg)
{
    std::vector<unsigned char> ids;
    for (const VTag& tag : vmsg::tags(msg))
        ids.push_back(tag.mId);
    return ids;
}

TEST(ModernAccess, ValuesAreEmptyOnATypeMismatchAndReadAViewAlike)
{
    auto msg = vmsg::MessageBuilder(0x10)
                   .u8(1, 7)
                   .u16(2, 258)
                   .u32(3, 42)
                   .f32(4, 1.5f)
                   .text(5, "pump-7")
                   .bytes(6, "\x01\x02", 2)
                   .null(7)
                   .build();
    msg->addTag(new VTagUInt32(8, 1.0f)); // a float's bits with the u32 code
    EXPECT_EQ(vmsg::value<std::uint8_t>(vmsg::findTag(*msg, 1)), 7);
    EXPECT_EQ(vmsg::value<std::uint16_t>(vmsg::findTag(*msg, 2)), 258);
    EXPECT_EQ(vmsg::value<std::uint32_t>(vmsg::findTag(*msg, 3)), 42u);
    EXPECT_EQ(vmsg::value<float>(vmsg::findTag(*msg, 4)), 1.5f);
    EXPECT_EQ(vmsg::text(vmsg::findTag(*msg, 5)), "pump-7");
    EXPECT_EQ(vmsg::bytes(vmsg::findTag(*msg, 6)), std::string_view("\x01\x02", 2));
    EXPECT_EQ(vmsg::value<std::uint32_t>(vmsg::findTag(*msg, 8)), 0x3F800000u);

    // Every other pairing of accessor and tag is empty, also for a missing tag.
    const VTag* u16 = vmsg::findTag(*msg, 2);
    EXPECT_FALSE(vmsg::value<std::uint8_t>(u16));
    EXPECT_FALSE(vmsg::value<std::uint32_t>(u16));
    EXPECT_FALSE(vmsg::value<float>(vmsg::findTag(*msg, 8)));
    EXPECT_FALSE(vmsg::value<std::uint32_t>(vmsg::findTag(*msg, 4)));
    EXPECT_FALSE(vmsg::text(vmsg::findTag(*msg, 6)));
    EXPECT_FALSE(vmsg::bytes(vmsg::findTag(*msg, 5)));
    EXPECT_FALSE(vmsg::text(vmsg::findTag(*msg, 7)));
    EXPECT_EQ(vmsg::findTag(*msg, 99), nullptr);
    EXPECT_FALSE(vmsg::value<std::uint16_t>(vmsg::findTag(*msg, 99)));
    EXPECT_FALSE(vmsg::text(vmsg::findTag(*msg, 99)));

    // The same accessors on the views of the written block.
    const Bytes block = blockOf(*msg);
    vmsg::Reader reader(block.data(), block.size());
    vmsg::TagView view;
    for (const VTag& tag : vmsg::tags(*msg)) {
        ASSERT_TRUE(reader.next(view));
        EXPECT_EQ(vmsg::value<std::uint8_t>(view), vmsg::value<std::uint8_t>(tag));
        EXPECT_EQ(vmsg::value<std::uint16_t>(view), vmsg::value<std::uint16_t>(tag));
        EXPECT_EQ(vmsg::value<std::uint32_t>(view), vmsg::value<std::uint32_t>(tag));
        EXPECT_EQ(vmsg::value<float>(view), vmsg::value<float>(tag));
        EXPECT_EQ(vmsg::text(view), vmsg::text(tag));
        EXPECT_EQ(vmsg::bytes(view), vmsg::bytes(tag));
    }
    // A plain tag with an unknown code has no value of any kind.
    VTag odd(1, static_cast<VTag::VTagType>(9));
    EXPECT_FALSE(vmsg::value<std::uint8_t>(odd));
    EXPECT_FALSE(vmsg::text(odd));
}

TEST(ModernAccess, WalksLeaveTheCursorWhereItStands)
{
    auto msg = vmsg::MessageBuilder(0x10).u32(1, 42).text(2, "a").u8(0x20, 0).f32(0x21, 2.0f).build();
    msg->gotoFirst();
    msg->getTag(); // the cursor on the second tag
    VTag* const cursor = msg->mCurrentTag;
    EXPECT_EQ(idsOf(*msg), (std::vector<unsigned char>{1, 2, 0x20, 0x21}));
    EXPECT_NE(vmsg::findTag(*msg, 0x21), nullptr);
    EXPECT_TRUE(vmsg::missingTags(kMessages[0], *msg).empty());
    EXPECT_TRUE(vmsg::structure(kDict, *msg));
    vmsg::Endpoint endpoint(kDict);
    EXPECT_TRUE(endpoint.check(*msg).empty());
    EXPECT_EQ(msg->mCurrentTag, cursor);
    EXPECT_TRUE(vmsg::tags(VMsg(1)).empty());
}

// A random tag sequence, added to a builder and, with the typed
// constructors, to a classic message: texts and bytes on both sides of
// their limits, and texts with an inner NUL. What the typed constructors
// would cut, the builder refuses, and the message goes on as if the call
// had not been made.
TEST(ModernBuilder, BytesEqualThoseOfTheTypedConstructors)
{
    std::mt19937 rng(14);
    const std::size_t lengths[] = {0, 1, 5, 1016, 1017, 1018, 1019, 2000};
    for (int round = 0; round < 300; ++round) {
        const auto id = static_cast<unsigned char>(rng());
        const auto flags = static_cast<unsigned char>(rng());
        vmsg::MessageBuilder builder(id, flags);
        VMsg classic(id);
        classic.mFlags = flags;
        unsigned payload = 0;
        while (rng() % 5 && payload < 900) {
            const auto tagId = static_cast<unsigned char>(rng());
            std::string data(lengths[rng() % 8], 'x');
            if (!data.empty() && rng() % 3 == 0)
                data[rng() % data.size()] = '\0';
            const auto n = static_cast<std::uint32_t>(rng());
            switch (rng() % 7) {
            case 0: builder.null(tagId); classic.addTag(new VTagNull(tagId)); break;
            case 1:
                if (data.size() > vmsg::kMaxText || data.find('\0') != std::string::npos) {
                    EXPECT_THROW(builder.text(tagId, data), std::length_error);
                    break;
                }
                builder.text(tagId, data);
                classic.addTag(new VTagString(tagId, data.data()));
                break;
            case 2: builder.u32(tagId, n); classic.addTag(new VTagUInt32(tagId, static_cast<unsigned int>(n))); break;
            case 3:
                builder.u16(tagId, static_cast<std::uint16_t>(n));
                classic.addTag(new VTagUInt16(tagId, static_cast<unsigned short>(n)));
                break;
            case 4:
                builder.u8(tagId, static_cast<std::uint8_t>(n));
                classic.addTag(new VTagUInt8(tagId, static_cast<unsigned char>(n)));
                break;
            case 5:
                if (data.size() > vmsg::kMaxPayload) {
                    EXPECT_THROW(builder.bytes(tagId, data.data(), data.size()), std::length_error);
                    break;
                }
                builder.bytes(tagId, data.data(), data.size());
                classic.addTag(new VTagBytes(tagId, data.data(), static_cast<unsigned short>(data.size())));
                break;
            default:
                builder.f32(tagId, vmsg::floatFromBits(n));
                classic.addTag(new VTagFloat(tagId, vmsg::floatFromBits(n)));
            }
            payload = classic.mLength;
        }
        std::unique_ptr<VMsg> built = builder.build();
        ASSERT_TRUE(built);
        EXPECT_EQ(built->mTagCount, classic.mTagCount);
        EXPECT_EQ(built->mLength, classic.mLength);
        if (classic.mLength <= vmsg::kMaxMessagePayload) {
            EXPECT_EQ(blockOf(*built), blockOf(classic)) << "round " << round;
        }
        // The builder starts again with the same header.
        std::unique_ptr<VMsg> next = builder.build();
        EXPECT_EQ(next->mId, id);
        EXPECT_EQ(next->mFlags, flags);
        EXPECT_EQ(next->mTagCount, 0);
    }
    // What the caller passes is never written.
    const std::string longText(1017, 'y');
    const char fixed[] = "const data";
    auto msg = vmsg::MessageBuilder(1).text(1, longText).bytes(2, fixed, sizeof fixed).build();
    EXPECT_EQ(longText, std::string(1017, 'y'));
    EXPECT_EQ(vmsg::text(vmsg::findTag(*msg, 1))->size(), 1017u);
}

// The refusal names the tag and the size, and leaves the builder as it
// was: the message built afterwards holds exactly the accepted tags.
TEST(ModernBuilder, RefusesWhatTheTypedConstructorsWouldCut)
{
    const auto refusal = [](auto call) -> std::string {
        try {
            call();
        } catch (const std::length_error& error) {
            return error.what();
        }
        return "accepted";
    };
    vmsg::MessageBuilder builder(0x10);
    builder.u8(9, 1);
    EXPECT_EQ(refusal([&] { builder.text(1, std::string(2000, 'x')); }),
              "vmsg::MessageBuilder::text: tag 1: 2000 bytes, at most 1017");
    EXPECT_EQ(refusal([&] { builder.text(2, std::string(1018, 'x')); }),
              "vmsg::MessageBuilder::text: tag 2: 1018 bytes, at most 1017");
    EXPECT_EQ(refusal([&] { builder.text(3, std::string("ab\0c", 4)); }),
              "vmsg::MessageBuilder::text: tag 3: 4 bytes, a NUL at byte 2");
    EXPECT_EQ(refusal([&] { builder.text(4, std::string(1, '\0')); }),
              "vmsg::MessageBuilder::text: tag 4: 1 bytes, a NUL at byte 0");
    const std::string raw(1019, 'b');
    EXPECT_EQ(refusal([&] { builder.bytes(0, raw.data(), raw.size()); }),
              "vmsg::MessageBuilder::bytes: tag 0: 1019 bytes, at most 1018");
    // The accepted side of each limit, and the empty text and payload.
    EXPECT_EQ(refusal([&] { builder.text(5, std::string(1017, 'x')).text(6, ""); }), "accepted");
    EXPECT_EQ(refusal([&] { builder.bytes(7, raw.data(), 1018).bytes(8, nullptr, 5); }), "accepted");
    std::unique_ptr<VMsg> msg = builder.build();
    std::vector<unsigned> ids;
    for (const VTag& tag : vmsg::tags(*msg))
        ids.push_back(tag.mId);
    EXPECT_EQ(ids, (std::vector<unsigned>{9, 5, 6, 7, 8}));
    EXPECT_EQ(msg->mLength, 4 + 1 + 4 + 1018 + 4 + 1 + 4 + 1018 + 4);
    EXPECT_EQ(vmsg::bytes(vmsg::findTag(*msg, 8))->size(), 0u);
}

TEST(ModernFind, FindTagGivesTheFirstOfRepeatedIdsAndFindsIdZero)
{
    std::unique_ptr<VMsg> msg =
        vmsg::MessageBuilder(0x21).u8(0, 9).u16(7, 1).u8(3, 2).u32(7, 3).u8(7, 4).build();
    EXPECT_EQ(vmsg::value<std::uint8_t>(vmsg::findTag(*msg, 0)), 9);
    EXPECT_EQ(vmsg::value<std::uint16_t>(vmsg::findTag(*msg, 7)), 1) << "the first tag 7, not a later one";
    EXPECT_EQ(vmsg::value<std::uint8_t>(vmsg::findTag(*msg, 3)), 2);
    EXPECT_EQ(vmsg::findTag(*msg, 255), nullptr);
    EXPECT_EQ(vmsg::findTag(*msg, 1), nullptr);
}

TEST(ModernErrors, AnEmptyListIsNothingToReport)
{
    vmsg::Errors none(new VList);
    EXPECT_TRUE(none.empty());
    EXPECT_FALSE(none);
    EXPECT_EQ(none.size(), 0u);
    EXPECT_TRUE(vmsg::Errors().empty());
    EXPECT_TRUE(vmsg::Errors(nullptr).empty());
}

TEST(ModernErrors, HandlesFreeTheirRecordsAndNameAndDecodeEachCode)
{
    vmsg::Endpoint endpoint(kDict);
    std::unique_ptr<VMsg> unknown = vmsg::MessageBuilder(0x7f).u8(1, 1).build();
    VMsg* const kept = unknown.get();
    vmsg::Errors errors = endpoint.send(unknown);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(unknown.get(), kept) << "a refused message stays with the caller";
    EXPECT_STREQ(vmsg::errorName(errors.front().mCode), "ErrUnknownMessage");
    EXPECT_EQ(vmsg::errorDetail(errors.front()), 0x7f);
    EXPECT_TRUE(errors.contains(ErrUnknownMessage));

    std::unique_ptr<VMsg> none;
    errors = endpoint.send(none); // the earlier list is freed
    EXPECT_EQ(errors.front().mCode, ErrNullArgument);
    EXPECT_FALSE(vmsg::errorDetail(errors.front()));

    // A move leaves the source empty; release hands the list back.
    vmsg::Errors moved(std::move(errors));
    EXPECT_TRUE(errors.empty()); // NOLINT(bugprone-use-after-move): moved-from is empty by contract
    EXPECT_FALSE(errors);
    VList* list = moved.release();
    EXPECT_TRUE(moved.empty());
    vmsg::Errors again(list);
    EXPECT_EQ(again.size(), 1u);

    const struct {
        unsigned short code;
        Bytes detail;
        std::optional<int> decoded;
        const char* name;
    } rows[] = {
        {ErrMissingTag, {9}, 9, "ErrMissingTag"},
        {ErrBufferTooSmall, hostBytes(65000), 65000, "ErrBufferTooSmall"},
        {ErrTagCountMismatch, hostBytes(0xFFFF), -1, "ErrTagCountMismatch"},
        {ErrLengthMismatch, {}, std::nullopt, "ErrLengthMismatch"},
        {ErrParseFailed, {}, std::nullopt, "ErrParseFailed"},
        {ErrBufferTooSmall, {1}, std::nullopt, "ErrBufferTooSmall"}, // detail of the wrong size
        {99, {1}, std::nullopt, "unknown error"},
    };
    for (const auto& row : rows) {
        const VError error(row.code, row.detail.data(), static_cast<unsigned short>(row.detail.size()));
        EXPECT_EQ(vmsg::errorDetail(error), row.decoded) << row.name;
        EXPECT_STREQ(vmsg::errorName(row.code), row.name);
    }
}

TEST(ModernEndpoint, EveryPathLeavesEachMessageWithExactlyOneOwner)
{
    vmsg::Endpoint sender(kDict);
    vmsg::Endpoint receiver(kDict);
    std::unique_ptr<VMsg> msg = vmsg::MessageBuilder(0x10).u32(1, 42).text(2, "pump-7").build();
    ASSERT_TRUE(sender.send(msg).empty());
    EXPECT_EQ(msg, nullptr);
    EXPECT_TRUE(sender.ready());

    unsigned char block[vmsg::kMaxBlock];
    std::size_t length = 99;
    vmsg::Errors small = sender.bytesOut(block, 5, length);
    EXPECT_EQ(length, 0u);
    ASSERT_TRUE(small.contains(ErrBufferTooSmall));
    EXPECT_EQ(vmsg::errorDetail(small.front()), 2 + 8 + 11);
    EXPECT_TRUE(sender.bytesOut(block, 70000, length).empty()); // capacity beyond 16 bits
    EXPECT_EQ(length, 21u);
    EXPECT_FALSE(sender.ready());

    EXPECT_TRUE(receiver.bytesIn(block, length).empty());
    std::unique_ptr<VMsg> received = receiver.receive();
    ASSERT_TRUE(received);
    EXPECT_EQ(vmsg::text(vmsg::findTag(*received, 2)), "pump-7");
    EXPECT_EQ(receiver.receive(), nullptr);

    EXPECT_TRUE(receiver.bytesIn(block, 1).contains(ErrParseFailed));
    EXPECT_TRUE(receiver.bytesIn(nullptr, 4).contains(ErrParseFailed));
    std::vector<unsigned char> huge(70000);
    huge[0] = 0x10;
    EXPECT_TRUE(receiver.bytesIn(huge.data(), huge.size()).contains(ErrParseFailed));
    block[0] = 0x7f;
    EXPECT_TRUE(receiver.bytesIn(block, length).contains(ErrUnknownMessage));

    // A message too large for one block is refused and stays the caller's;
    // put in through the classic endpoint, bytesOut reports it and it is gone.
    const std::string bytes(1018, 'b');
    std::unique_ptr<VMsg> large = vmsg::MessageBuilder(0x10).bytes(1, bytes.data(), 1018).u8(2, 1).build();
    vmsg::Errors refused = sender.send(large);
    ASSERT_TRUE(refused.contains(ErrLengthMismatch));
    EXPECT_EQ(vmsg::errorDetail(refused.front()), 2 + 4 + 1018 + 4 + 1);
    ASSERT_TRUE(large);
    ASSERT_EQ(sender.classic().sendMessage(large.release()), nullptr);
    std::vector<unsigned char> roomy(2000);
    EXPECT_TRUE(sender.bytesOut(roomy.data(), roomy.size(), length).contains(ErrLengthMismatch));
    EXPECT_FALSE(sender.ready());

    // Queued messages go with their endpoint, also after a move.
    std::unique_ptr<VMsg> waiting = vmsg::MessageBuilder(0x10).u8(1, 1).build();
    ASSERT_TRUE(sender.send(waiting).empty());
    vmsg::Endpoint moved(std::move(sender));
    EXPECT_TRUE(moved.ready());
    EXPECT_TRUE(moved.check(*received).empty());
    EXPECT_TRUE(moved.check(VMsg(0x7f)).contains(ErrUnknownMessage));
    EXPECT_EQ(moved.definition(0x10), &kMessages[0]);
    EXPECT_EQ(&moved.dictionary(), &kDict);
    EXPECT_TRUE(moved.classic().bytesOutReady());
}

// The stop of the one ErrParseFailed record of @p errors, or why not.
std::string stopOf(const vmsg::Errors& errors)
{
    if (errors.size() != 1 || errors.front().mCode != ErrParseFailed)
        return "not one ErrParseFailed";
    const std::optional<vmsg::ParseStop> stop = vmsg::parseStop(errors.front());
    return stop ? std::string(vmsg::stopName(stop->stop)) + " at " + std::to_string(stop->offset) : "no stop";
}

// A message no block can hold is refused where it enters, not left at the
// head of the queue where no buffer would ever take it.
TEST(ModernEndpoint, SendRefusesAMessageNoBlockCanHold)
{
    vmsg::Endpoint endpoint(kDict);
    // 1022 payload bytes fit exactly; one more does not.
    std::unique_ptr<VMsg> fits = vmsg::MessageBuilder(0x10).bytes(1, std::string(1018, 'a').data(), 1018).build();
    ASSERT_EQ(fits->mLength, 1022);
    EXPECT_TRUE(endpoint.send(fits).empty());
    auto over = std::make_unique<VMsg>(0x10);
    std::string text(2000, 'x');
    over->addTag(new VTagString(1, text.data())); // the classic constructor cuts to 1017
    over->addTag(new VTagUInt32(2, 5u));
    ASSERT_EQ(over->mLength, 1030);
    VMsg* const kept = over.get();
    vmsg::Errors errors = endpoint.send(over);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors.front().mCode, ErrLengthMismatch);
    EXPECT_EQ(vmsg::errorDetail(errors.front()), 1032);
    EXPECT_EQ(over.get(), kept);
    // The queue goes on: the fitting message comes out in a block of 1024.
    unsigned char block[vmsg::kMaxBlock];
    std::size_t length = 0;
    EXPECT_TRUE(endpoint.bytesOut(block, sizeof block, length).empty());
    EXPECT_EQ(length, vmsg::kMaxBlock);
    EXPECT_FALSE(endpoint.ready());
}

// What bytesIn refuses it queues nothing of, and says where and why.
TEST(ModernEndpoint, BytesInRefusesDamagedAndOverlongBlocksWithTheirStop)
{
    const unsigned char whole[] = {0x10, 0, 1, 4, 0, 1, 7, 2, 3, 0, 2, 1, 2};
    vmsg::Endpoint endpoint(kDict);
    EXPECT_EQ(stopOf(endpoint.bytesIn(whole, sizeof whole - 1)), "length-beyond-block at 7");
    EXPECT_EQ(stopOf(endpoint.bytesIn(whole, 9)), "short-tag-header at 7");
    const unsigned char unknownType[] = {0x10, 0, 1, 4, 0, 1, 7, 2, 9, 0, 0};
    EXPECT_EQ(stopOf(endpoint.bytesIn(unknownType, sizeof unknownType)), "unknown-type at 7");
    const unsigned char shortValue[] = {0x10, 0, 1, 3, 0, 1, 7};
    EXPECT_EQ(stopOf(endpoint.bytesIn(shortValue, sizeof shortValue)), "short-fixed-value at 2");
    EXPECT_EQ(stopOf(endpoint.bytesIn(whole, 1)), "short-block at 0");
    EXPECT_EQ(stopOf(endpoint.bytesIn(nullptr, 4)), "short-block at 0");
    // 65 535 zero bytes would be 16 383 null tags: far beyond any block.
    std::vector<unsigned char> zeros(65536, 0);
    zeros[0] = 0x10;
    EXPECT_EQ(stopOf(endpoint.bytesIn(zeros.data(), 65535)), "too-long at 0");
    EXPECT_EQ(stopOf(endpoint.bytesIn(zeros.data(), vmsg::kMaxBlock + 1)), "too-long at 0");
    EXPECT_EQ(endpoint.receive(), nullptr);
    // The longest block taken: 254 null tags and a u16 tag, 1024 bytes.
    std::vector<unsigned char> longest(vmsg::kMaxBlock, 0);
    longest[0] = 0x10;
    const unsigned char last[] = {1, VTag::TagUInt16, 0, 2, 0xAB, 0xCD};
    std::copy(std::begin(last), std::end(last), longest.end() - sizeof last);
    EXPECT_TRUE(endpoint.bytesIn(longest.data(), longest.size()).empty());
    EXPECT_TRUE(endpoint.bytesIn(whole, sizeof whole).empty());
    EXPECT_EQ(endpoint.receive()->mTagCount, 255);
    EXPECT_EQ(endpoint.receive()->mTagCount, 2);
    // Records of the classic endpoint, and of other codes, carry no stop.
    vmsg::Errors classic(endpoint.classic().bytesIn(whole, 1));
    EXPECT_EQ(stopOf(classic), "no stop");
    EXPECT_EQ(vmsg::parseStop(VError(ErrMissingTag, "\0\0\0", 3)), std::nullopt);

    // A caller may choose to take damaged and longer blocks, as Carrow does.
    vmsg::EndpointOptions options;
    options.acceptDamaged = true;
    options.maxBlock = 100000; // counts as 65535
    vmsg::Endpoint lenient(kDict, options);
    EXPECT_TRUE(lenient.bytesIn(whole, sizeof whole - 1).empty());
    EXPECT_EQ(lenient.receive()->mTagCount, 1);
    EXPECT_TRUE(lenient.bytesIn(zeros.data(), 65535).empty());
    EXPECT_EQ(lenient.receive()->mTagCount, 16383);
    EXPECT_EQ(stopOf(lenient.bytesIn(zeros.data(), 65536)), "too-long at 0");
    // Longer blocks alone: a damaged one is still refused.
    options.acceptDamaged = false;
    vmsg::Endpoint roomy(kDict, options);
    EXPECT_EQ(stopOf(roomy.bytesIn(zeros.data(), 65535)), "short-tag-header at 65534");
    options.maxBlock = 12;
    vmsg::Endpoint tight(kDict, options);
    EXPECT_EQ(stopOf(tight.bytesIn(whole, sizeof whole)), "too-long at 0");
    EXPECT_TRUE(tight.bytesIn(whole, 7).empty());
}

TEST(ModernEndpoint, EachQueueHoldsAtMostItsLimit)
{
    const unsigned char block[] = {0x10, 0, 1, 4, 0, 1, 7};
    const auto fill = [&](vmsg::Endpoint& endpoint, std::size_t count) {
        std::size_t taken = 0;
        for (std::size_t i = 0; i < count; ++i) {
            std::unique_ptr<VMsg> msg = vmsg::MessageBuilder(0x10).u8(1, 7).build();
            const vmsg::Errors sent = endpoint.send(msg);
            const vmsg::Errors received = endpoint.bytesIn(block, sizeof block);
            EXPECT_EQ(sent.empty(), received.empty());
            if (!sent.empty()) {
                EXPECT_TRUE(sent.contains(ErrQueueFull) && received.contains(ErrQueueFull));
                EXPECT_STREQ(vmsg::errorName(sent.front().mCode), "ErrQueueFull");
                EXPECT_TRUE(msg) << "a refused message stays with the caller";
                break;
            }
            ++taken;
        }
        return taken;
    };
    vmsg::Endpoint byDefault(kDict);
    EXPECT_EQ(fill(byDefault, vmsg::kDefaultMaxQueued + 1), vmsg::kDefaultMaxQueued);

    vmsg::EndpointOptions options;
    options.maxQueued = 2;
    vmsg::Endpoint two(kDict, options);
    EXPECT_EQ(fill(two, 5), 2u);
    // Draining one message of each queue makes room for one more.
    EXPECT_TRUE(two.receive());
    unsigned char out[vmsg::kMaxBlock];
    std::size_t length = 0;
    EXPECT_TRUE(two.bytesOut(out, sizeof out, length).empty());
    EXPECT_EQ(fill(two, 5), 1u);
    // The options go with the endpoint when it moves.
    vmsg::Endpoint moved(std::move(two));
    EXPECT_EQ(fill(moved, 5), 0u);
    vmsg::Endpoint assigned(kDict);
    assigned = std::move(moved);
    EXPECT_EQ(fill(assigned, 5), 0u);

    options.maxQueued = 0; // no limit
    vmsg::Endpoint unbounded(kDict, options);
    EXPECT_EQ(fill(unbounded, vmsg::kDefaultMaxQueued + 10), vmsg::kDefaultMaxQueued + 10);
}

TEST(ModernChecks, MissingTagsEqualsCheckMessageTagsOnRandomMessages)
{
    std::mt19937 rng(3);
    Carrow endpoint(&kDict);
    for (int round = 0; round < 2000; ++round) {
        // Few distinct ids, so that duplicates and 255 meet often.
        auto id = [&] { return static_cast<unsigned char>(rng() % 5 == 0 ? 255 : rng() % 4); };
        std::vector<unsigned char> required(rng() % 6);
        for (unsigned char& r : required)
            r = id();
        const CarrowMsgDef def{0x10, static_cast<unsigned char>(required.size()), required.data()};
        VMsg msg(0x10);
        for (unsigned n = rng() % 7; n; --n)
            msg.addTag(new VTagNull(id()));

        std::vector<unsigned char> ids = idsOf(msg);
        std::vector<unsigned char> classic;
        vmsg::Errors errors(endpoint.checkMessageTags(&def, ids.data(), static_cast<unsigned char>(ids.size())));
        for (const VError& error : errors)
            classic.push_back(static_cast<unsigned char>(*vmsg::errorDetail(error)));
        ASSERT_EQ(vmsg::missingTags(def, msg), classic) << "round " << round;
    }
}

// Beyond the 255 ids checkMessageTags takes: many tags and up to 255
// required ids, against the rule written out (each requirement takes the
// first present id equal to it and leaves a 255 in its place).
TEST(ModernChecks, MissingTagsKeepsTheRuleOnLargeMessages)
{
    std::mt19937 rng(31);
    for (int round = 0; round < 60; ++round) {
        const unsigned spread = round % 3 == 0 ? 8 : 256;
        auto id = [&] { return static_cast<unsigned char>(rng() % 7 == 0 ? 255 : rng() % spread); };
        std::vector<unsigned char> required(rng() % 256);
        for (unsigned char& r : required)
            r = id();
        const CarrowMsgDef def{0x10, static_cast<unsigned char>(required.size()), required.data()};
        VMsg msg(0x10);
        for (unsigned n = rng() % 3000; n; --n)
            msg.addTag(new VTagNull(id()));

        std::vector<unsigned char> ids = idsOf(msg);
        std::vector<unsigned char> expected;
        for (unsigned char r : required) {
            auto at = std::find(ids.begin(), ids.end(), r);
            if (at == ids.end())
                expected.push_back(r);
            else
                *at = 255;
        }
        ASSERT_EQ(vmsg::missingTags(def, msg), expected) << "round " << round;
    }
}

// The shape of a structured view: ids and payloads of plain tags, then of
// each object's meta tag and members.
std::string shapeOf(const CarrowMessage& view)
{
    auto tag = [](const VTag* t) {
        return std::to_string(t->mId) + ":" + std::to_string(t->mType) + ":" +
               std::string(reinterpret_cast<const char*>(t->mData), t->mData ? t->mLength : 0u) + " ";
    };
    std::string shape = std::to_string(view.mId) + " | ";
    for (const VTag* t : view.mTags)
        shape += tag(t);
    for (const CarrowObject* object : view.mObjects) {
        shape += "| " + std::to_string(object->mId) + " " + tag(object->mMetaTag);
        for (const VTag* t : object->mTags)
            shape += tag(t);
    }
    return shape;
}

TEST(ModernStructure, EqualsParseVMsgOnRandomMessagesWithoutTheClassWideList)
{
    std::mt19937 rng(5);
    for (int round = 0; round < 500; ++round) {
        VMsg msg(static_cast<unsigned char>(rng()));
        for (unsigned n = rng() % 8; n; --n) {
            const auto id = static_cast<unsigned char>(rng() % 3 == 0 ? 0x20 : rng() % 40);
            if (rng() % 10 == 0)
                msg.addTag(new VTag(id, static_cast<VTag::VTagType>(7))); // cannot be copied
            else
                msg.addTag(new VTagUInt16(id, static_cast<unsigned short>(rng())));
        }
        if (rng() % 8 == 0)
            msg.mTagCount = static_cast<unsigned short>(msg.mTagCount + 1);

        vmsg::Structure modern = vmsg::structure(kDict, msg);
        std::unique_ptr<CarrowMessage> classic(CarrowMessage::parseVMsg(&kDict, &msg));
        ASSERT_EQ(static_cast<bool>(modern), classic != nullptr);
        if (classic) {
            EXPECT_EQ(shapeOf(*modern.message), shapeOf(*classic));
            EXPECT_TRUE(modern.errors.empty());
        } else {
            ASSERT_EQ(modern.errors.size(), 1u);
            const auto* last = static_cast<const VError*>(CarrowMessage::mLastErrors->mHead->mData);
            EXPECT_EQ(modern.errors.front().mCode, last->mCode);
            EXPECT_EQ(vmsg::errorDetail(modern.errors.front()), vmsg::errorDetail(*last));
        }
    }
}

// Dictionaries of up to 255 meta definitions, ids at the word edges of
// any lookup table included: the same grouping as parseVMsg's.
TEST(ModernStructure, GroupsAsParseVMsgWithManyMetaDefinitions)
{
    std::mt19937 rng(9);
    const unsigned char edges[] = {0, 1, 63, 64, 127, 128, 191, 192, 254, 255};
    for (int round = 0; round < 200; ++round) {
        std::vector<CarrowMetaDef> metas(rng() % 256);
        for (CarrowMetaDef& meta : metas)
            meta = {rng() % 2 ? edges[rng() % sizeof edges] : static_cast<unsigned char>(rng()), VTag::TagUInt8,
                    "meta", "object"};
        const CarrowDictDef dict = {{0, 0}, 0, 0, static_cast<unsigned char>(metas.size()),
                                    nullptr,  nullptr, metas.data()};
        VMsg msg(0x33);
        for (unsigned n = rng() % 40; n; --n) {
            const unsigned char id = rng() % 2 ? edges[rng() % sizeof edges] : static_cast<unsigned char>(rng());
            msg.addTag(new VTagUInt8(id, static_cast<unsigned char>(rng())));
        }
        vmsg::Structure modern = vmsg::structure(dict, msg);
        std::unique_ptr<CarrowMessage> classic(CarrowMessage::parseVMsg(&dict, &msg));
        ASSERT_TRUE(modern && classic);
        ASSERT_EQ(shapeOf(*modern.message), shapeOf(*classic)) << "round " << round;
    }
}

TEST(ModernStructure, WritesTheSameWarningAndRunsInManyThreadsAtOnce)
{
    VMsg msg(0x10);
    msg.addTag(new VTagUInt8(1, 1));
    msg.mTagCount = 3;
    {
        LogCapture log("CarrowMessage");
        EXPECT_FALSE(vmsg::structure(kDict, msg));
        ASSERT_FALSE(log.lines().empty());
        EXPECT_EQ(log.lines().front(), "parseVMsg(): tagcount: 3 size: 1");
    }
    msg.mTagCount = 1;
    auto shared = vmsg::MessageBuilder(0x10).u32(1, 42).u8(0x20, 1).f32(0x21, 1.0f).build();
    std::vector<std::thread> threads;
    std::vector<int> ok(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                vmsg::Structure a = vmsg::structure(kDict, *shared);
                vmsg::Structure b = vmsg::structure(kDict, msg);
                ok[t] += a && a.message->mObjects.size() == 1 && b && b.message->mTags.size() == 1;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(ok, std::vector<int>(4, 200));
}

} // namespace
