// Benchmarks of libvmsg on fixed content, beside msgpack-c on the same
// values and beside two floors: a memcpy of the wire bytes and the heap
// traffic that decoding needs.
//
// Content:
//   R  12 tags: u8, u16, u32, float, null, 12-character text, 40-character
//      text, 16 raw bytes, 200 raw bytes, u32, u16, u8 (338 bytes on the wire)
//   T  one u8 tag
//   R framed: R's block in a framed stream (VFrame.h), length prefix or COBS
//   L  328 raw-bytes tags of 200 bytes (64 KiB of payload); its 16-bit
//      length wraps, which segmentation does not read
//   J  65535 u8 tags in 64-byte frames: 5462 blocks of 12 tags to join
//   K  13000 u8 tags (65 002 bytes on the wire): 12 745 of id 255, then ids
//      0 to 254, checked against a definition that requires ids 0 to 254
//   M  16000 u16 tags, one in 16 of them a meta tag, grouped by a
//      dictionary of 255 meta definitions
//
// Every benchmark checks its result once before timing, so a broken path
// fails the run instead of producing a fast number.
#include <Carrow.h>
#include <CarrowMessage.h>
#include <VMsg.h>
#include <VFrame.h>
#include <VTag.h>
#include <VWire.h>
#include <vmsg.hpp>

#include "heap_count.h"
#include "summary.h"

#include <benchmark/benchmark.h>
#include <msgpack.hpp>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// Content

constexpr unsigned char kMsgT = 0x10;
constexpr unsigned char kMsgR = 0x20;
constexpr unsigned char kMsgL = 0x30;

// Tag ids of R, in message order.
enum : unsigned char {
    kIdU8a = 1,
    kIdU16a,
    kIdU32a,
    kIdFloat,
    kIdNull,
    kIdShortText,
    kIdLongText,
    kIdBytes16,
    kIdBytes200,
    kIdU32b,
    kIdU16b,
    kIdU8b,
};
constexpr unsigned kTagsR = 12;
constexpr unsigned char kIdT = 1;

constexpr unsigned char kU8a = 200;
constexpr unsigned short kU16a = 0x1234;
constexpr unsigned int kU32a = 0xDEADBEEFu;
constexpr float kFloat = 3.25f;
constexpr unsigned int kU32b = 4000000000u;
constexpr unsigned short kU16b = 65000;
constexpr unsigned char kU8b = 7;

// Mutable: the tag constructors take non-const pointers.
char gShortText[] = "status: good";                             // 12 characters
char gLongText[] = "the quick brown fox jumps over a lazy dog"; // cut to 40 below
constexpr unsigned short kShortTextLength = 12;
constexpr unsigned short kLongTextLength = 40;
unsigned char gBytes16[16];
unsigned char gBytes200[200];

constexpr unsigned kTagsL = 328; // 328 x 200 bytes >= 64 KiB
constexpr unsigned short kBytesL = 200;

void fillContent()
{
    gLongText[kLongTextLength] = '\0';
    for (unsigned i = 0; i < sizeof gBytes16; ++i)
        gBytes16[i] = static_cast<unsigned char>(0xA0 + i);
    for (unsigned i = 0; i < sizeof gBytes200; ++i)
        gBytes200[i] = static_cast<unsigned char>(i * 7 + 3);
}

void addTagsR(VMsg& msg)
{
    msg.addTag(new VTagUInt8(kIdU8a, kU8a));
    msg.addTag(new VTagUInt16(kIdU16a, kU16a));
    msg.addTag(new VTagUInt32(kIdU32a, kU32a));
    msg.addTag(new VTagFloat(kIdFloat, kFloat));
    msg.addTag(new VTagNull(kIdNull));
    msg.addTag(new VTagString(kIdShortText, gShortText));
    msg.addTag(new VTagString(kIdLongText, gLongText));
    msg.addTag(new VTagBytes(kIdBytes16, gBytes16, sizeof gBytes16));
    msg.addTag(new VTagBytes(kIdBytes200, gBytes200, sizeof gBytes200));
    msg.addTag(new VTagUInt32(kIdU32b, kU32b));
    msg.addTag(new VTagUInt16(kIdU16b, kU16b));
    msg.addTag(new VTagUInt8(kIdU8b, kU8b));
}

std::unique_ptr<VMsg> buildR()
{
    std::unique_ptr<VMsg> msg(new VMsg(kMsgR));
    addTagsR(*msg);
    return msg;
}

std::unique_ptr<VMsg> buildT()
{
    std::unique_ptr<VMsg> msg(new VMsg(kMsgT));
    msg->addTag(new VTagUInt8(kIdT, kU8b));
    return msg;
}

std::unique_ptr<VMsg> buildL()
{
    std::unique_ptr<VMsg> msg(new VMsg(kMsgL));
    for (unsigned i = 0; i < kTagsL; ++i) {
        gBytes200[0] = static_cast<unsigned char>(i); // tell the tags apart
        msg->addTag(new VTagBytes(static_cast<unsigned char>(i), gBytes200, kBytesL));
    }
    gBytes200[0] = 3;
    return msg;
}

// Wire bytes of a message, written once.
struct Wire {
    unsigned char bytes[vmsg::kMaxBlock];
    unsigned short size = 0;
};

Wire wireOf(VMsg& msg)
{
    Wire wire;
    wire.size = msg.getMsg(wire.bytes, sizeof wire.bytes);
    return wire;
}

// The values of R as an application reads them back.
struct ValuesR {
    unsigned char u8a = 0, u8b = 0;
    unsigned short u16a = 0, u16b = 0;
    unsigned int u32a = 0, u32b = 0;
    float f = 0;
    bool null = false;
    char shortText[64] = {};
    char longText[64] = {};
    unsigned char bytes16[16] = {};
    unsigned char bytes200[200] = {};
    unsigned seen = 0;
};

// R's values as the application holds them: what msgpack-c packs.
ValuesR gSourceR;

void fillSourceR()
{
    ValuesR& v = gSourceR;
    v.u8a = kU8a;
    v.u16a = kU16a;
    v.u32a = kU32a;
    v.f = kFloat;
    v.null = true;
    std::memcpy(v.shortText, gShortText, kShortTextLength + 1);
    std::memcpy(v.longText, gLongText, kLongTextLength + 1);
    std::memcpy(v.bytes16, gBytes16, sizeof gBytes16);
    std::memcpy(v.bytes200, gBytes200, sizeof gBytes200);
    v.u32b = kU32b;
    v.u16b = kU16b;
    v.u8b = kU8b;
    v.seen = kTagsR;
}

bool expectedValues(const ValuesR& v)
{
    return v.seen == kTagsR && v.u8a == kU8a && v.u16a == kU16a && v.u32a == kU32a && v.f == kFloat &&
           v.null && std::strcmp(v.shortText, gShortText) == 0 && std::strcmp(v.longText, gLongText) == 0 &&
           std::memcmp(v.bytes16, gBytes16, sizeof gBytes16) == 0 &&
           std::memcmp(v.bytes200, gBytes200, sizeof gBytes200) == 0 && v.u32b == kU32b &&
           v.u16b == kU16b && v.u8b == kU8b;
}

// Reads every value of R out of @p msg, checking each tag's type as an
// application would before casting. @return false on an unexpected tag.
bool readR(VMsg& msg, ValuesR& v)
{
    v.seen = 0;
    msg.gotoFirst();
    while (VTag* tag = msg.getTag()) {
        ++v.seen;
        switch (tag->mId) {
        case kIdU8a:
        case kIdU8b:
            if (tag->mType != VTag::TagUInt8)
                return false;
            (tag->mId == kIdU8a ? v.u8a : v.u8b) = static_cast<VTagUInt8*>(tag)->getValue();
            break;
        case kIdU16a:
        case kIdU16b:
            if (tag->mType != VTag::TagUInt16)
                return false;
            (tag->mId == kIdU16a ? v.u16a : v.u16b) = static_cast<VTagUInt16*>(tag)->getValue();
            break;
        case kIdU32a:
        case kIdU32b:
            if (tag->mType != VTag::TagUInt32)
                return false;
            (tag->mId == kIdU32a ? v.u32a : v.u32b) = static_cast<VTagUInt32*>(tag)->getValue();
            break;
        case kIdFloat:
            if (tag->mType != VTag::TagFloat)
                return false;
            v.f = static_cast<VTagFloat*>(tag)->getFloatValue();
            break;
        case kIdNull:
            v.null = tag->mType == VTag::TagNull;
            break;
        case kIdShortText:
        case kIdLongText:
            if (tag->mType != VTag::TagString)
                return false;
            if (!static_cast<VTagString*>(tag)->getValue(tag->mId == kIdShortText ? v.shortText : v.longText,
                                                         sizeof v.shortText))
                return false;
            break;
        case kIdBytes16:
            if (tag->mType != VTag::TagBytes || !static_cast<VTagBytes*>(tag)->getValue(v.bytes16, sizeof v.bytes16))
                return false;
            break;
        case kIdBytes200:
            if (tag->mType != VTag::TagBytes ||
                !static_cast<VTagBytes*>(tag)->getValue(v.bytes200, sizeof v.bytes200))
                return false;
            break;
        default:
            return false;
        }
    }
    return true;
}

// The dictionary: T and R are known, R requires all its tags, and the two
// meta ids split R into five plain tags and two objects.
const unsigned char kRequiredT[] = {kIdT};
const unsigned char kRequiredR[] = {kIdU8a,   kIdU16a,     kIdU32a,    kIdFloat, kIdNull,  kIdShortText,
                                    kIdLongText, kIdBytes16, kIdBytes200, kIdU32b, kIdU16b, kIdU8b};
const CarrowMsgDef kMsgDefs[] = {
    {kMsgT, sizeof kRequiredT, kRequiredT},
    {kMsgR, sizeof kRequiredR, kRequiredR},
};
const CarrowTagDef kTagDefs[] = {
    {kIdU8a, VTag::TagUInt8, "u8a"},           {kIdU16a, VTag::TagUInt16, "u16a"},
    {kIdU32a, VTag::TagUInt32, "u32a"},        {kIdFloat, VTag::TagFloat, "float"},
    {kIdNull, VTag::TagNull, "null"},          {kIdShortText, VTag::TagString, "shortText"},
    {kIdLongText, VTag::TagString, "longText"}, {kIdBytes16, VTag::TagBytes, "bytes16"},
    {kIdBytes200, VTag::TagBytes, "bytes200"}, {kIdU32b, VTag::TagUInt32, "u32b"},
    {kIdU16b, VTag::TagUInt16, "u16b"},        {kIdU8b, VTag::TagUInt8, "u8b"},
};
const CarrowMetaDef kMetaDefs[] = {
    {kIdShortText, VTag::TagString, "shortText", "header"},
    {kIdBytes16, VTag::TagBytes, "bytes16", "body"},
};
const CarrowDictDef kDict = {
    {0, 0},
    sizeof kMsgDefs / sizeof kMsgDefs[0],
    sizeof kTagDefs / sizeof kTagDefs[0],
    sizeof kMetaDefs / sizeof kMetaDefs[0],
    kMsgDefs,
    kTagDefs,
    kMetaDefs,
};

// ---------------------------------------------------------------------------
// Measuring helpers

// Heap blocks and operator new calls over the timed loop, per iteration.
class HeapMeter {
public:
    HeapMeter() : mStart(vbench::heapCounts()) {}

    void report(benchmark::State& state) const
    {
        if (!vbench::heapCountingEnabled())
            return;
        const vbench::HeapCounts end = vbench::heapCounts();
        state.counters["allocs"] =
            benchmark::Counter(static_cast<double>(end.blocks - mStart.blocks), benchmark::Counter::kAvgIterations);
        state.counters["news"] =
            benchmark::Counter(static_cast<double>(end.news - mStart.news), benchmark::Counter::kAvgIterations);
    }

private:
    vbench::HeapCounts mStart;
};

void setBytes(benchmark::State& state, std::size_t perOp)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(perOp));
    state.counters["wire_bytes"] = static_cast<double>(perOp);
}

void deleteErrors(VList* errors)
{
    if (!errors)
        return;
    while (void* error = errors->pull())
        delete static_cast<VError*>(error);
    delete errors;
}

// ---------------------------------------------------------------------------
// libvmsg

void Encode_R(benchmark::State& state)
{
    std::unique_ptr<VMsg> msg = buildR();
    unsigned char out[vmsg::kMaxBlock];
    const unsigned short size = msg->getMsg(out, sizeof out);
    if (size != 338) {
        state.SkipWithError("R does not encode to 338 bytes");
        return;
    }
    HeapMeter heap;
    for (auto _ : state) {
        unsigned short n = msg->getMsg(out, sizeof out);
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
    }
    heap.report(state);
    setBytes(state, size);
}

void BuildEncode_R(benchmark::State& state)
{
    const Wire reference = wireOf(*buildR());
    unsigned char out[vmsg::kMaxBlock];
    {
        std::unique_ptr<VMsg> msg = buildR();
        if (msg->getMsg(out, sizeof out) != reference.size || std::memcmp(out, reference.bytes, reference.size)) {
            state.SkipWithError("building R twice gives different bytes");
            return;
        }
    }
    HeapMeter heap;
    for (auto _ : state) {
        auto* msg = new VMsg(kMsgR);
        addTagsR(*msg);
        unsigned short n = msg->getMsg(out, sizeof out);
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
        delete msg;
    }
    heap.report(state);
    setBytes(state, reference.size);
}

void Decode_R(benchmark::State& state)
{
    const Wire wire = wireOf(*buildR());
    ValuesR values;
    {
        std::unique_ptr<VMsg> msg(VMsg::parseMsg(wire.bytes, wire.size));
        if (!msg || !readR(*msg, values) || !expectedValues(values)) {
            state.SkipWithError("decoding R does not give R's values");
            return;
        }
    }
    HeapMeter heap;
    for (auto _ : state) {
        VMsg* msg = VMsg::parseMsg(wire.bytes, wire.size);
        bool ok = readR(*msg, values);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(values);
        delete msg;
    }
    heap.report(state);
    setBytes(state, wire.size);
}

// Reads every value of R in place with vmsg::Reader, checking each tag's
// type and copying texts and bytes out, as readR and the msgpack-c decode
// do. @return false on an unexpected tag or a block that stops early.
bool readInPlaceR(const unsigned char* block, std::size_t size, ValuesR& v)
{
    vmsg::Reader reader(block, size);
    vmsg::TagView tag;
    v.seen = 0;
    auto copyText = [](const vmsg::TagView& t, char* dst, std::size_t capacity) {
        const std::string_view text = t.text();
        if (t.type != VTag::TagString || text.size() >= capacity)
            return false;
        std::memcpy(dst, text.data(), text.size());
        dst[text.size()] = '\0';
        return true;
    };
    auto copyBytes = [](const vmsg::TagView& t, unsigned char* dst, std::size_t capacity) {
        const std::string_view bytes = t.bytes();
        if (t.type != VTag::TagBytes || bytes.size() > capacity)
            return false;
        std::memcpy(dst, bytes.data(), bytes.size());
        return true;
    };
    while (reader.next(tag)) {
        ++v.seen;
        bool ok = true;
        switch (tag.id) {
        case kIdU8a: ok = tag.type == VTag::TagUInt8; v.u8a = tag.u8(); break;
        case kIdU8b: ok = tag.type == VTag::TagUInt8; v.u8b = tag.u8(); break;
        case kIdU16a: ok = tag.type == VTag::TagUInt16; v.u16a = tag.u16(); break;
        case kIdU16b: ok = tag.type == VTag::TagUInt16; v.u16b = tag.u16(); break;
        case kIdU32a: ok = tag.type == VTag::TagUInt32; v.u32a = tag.u32(); break;
        case kIdU32b: ok = tag.type == VTag::TagUInt32; v.u32b = tag.u32(); break;
        case kIdFloat: ok = tag.type == VTag::TagFloat; v.f = tag.f32(); break;
        case kIdNull: v.null = tag.type == VTag::TagNull; break;
        case kIdShortText: ok = copyText(tag, v.shortText, sizeof v.shortText); break;
        case kIdLongText: ok = copyText(tag, v.longText, sizeof v.longText); break;
        case kIdBytes16: ok = copyBytes(tag, v.bytes16, sizeof v.bytes16); break;
        case kIdBytes200: ok = copyBytes(tag, v.bytes200, sizeof v.bytes200); break;
        default: ok = false;
        }
        if (!ok)
            return false;
    }
    return reader.stop() == vmsg::Stop::End;
}

void Reader_R(benchmark::State& state)
{
    const Wire wire = wireOf(*buildR());
    ValuesR values;
    if (!readInPlaceR(wire.bytes, wire.size, values) || !expectedValues(values)) {
        state.SkipWithError("reading R in place does not give R's values");
        return;
    }
    HeapMeter heap;
    for (auto _ : state) {
        bool ok = readInPlaceR(wire.bytes, wire.size, values);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(values);
    }
    heap.report(state);
    setBytes(state, wire.size);
}

// A stream of R blocks framed one way, read block by block through a
// FrameReader and each block walked as Reader_R walks it: one iteration is
// one block, so the time beside Reader_R's is the framing's cost per block.
// The stream holds 64 frames and is fed from where the last block ended,
// in chunks of up to 4096 bytes as a socket read would give them.
void frameReadR(benchmark::State& state, vmsg::Framing framing)
{
    const Wire wire = wireOf(*buildR());
    constexpr int kFrames = 64;
    std::vector<unsigned char> stream(kFrames * vmsg::maxFramedSize(framing, wire.size));
    std::size_t size = 0;
    for (int i = 0; i < kFrames; ++i)
        size += vmsg::frame(framing, wire.bytes, wire.size, stream.data() + size, stream.size() - size);
    vmsg::FrameReader reader(framing);
    std::size_t at = 0;
    ValuesR values;
    auto nextBlock = [&]() -> bool {
        const unsigned char* block;
        std::size_t length;
        while (!reader.next(block, length)) {
            if (at == size)
                at = 0;
            const std::size_t chunk = size - at < 4096 ? size - at : 4096;
            at += reader.feed(stream.data() + at, chunk);
        }
        return readInPlaceR(block, length, values);
    };
    for (int i = 0; i < 2 * kFrames; ++i) {
        if (!nextBlock() || !expectedValues(values) || reader.dropped() != 0) {
            state.SkipWithError("the framed stream does not give R's values back");
            return;
        }
    }
    HeapMeter heap;
    for (auto _ : state) {
        bool ok = nextBlock();
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(values);
    }
    heap.report(state);
    setBytes(state, size / kFrames);
}

void FrameRead_LP_R(benchmark::State& state)
{
    frameReadR(state, vmsg::Framing::LengthPrefix);
}

void FrameRead_Cobs_R(benchmark::State& state)
{
    frameReadR(state, vmsg::Framing::Cobs);
}

// R's block framed one way into a buffer with vmsg::frame.
void frameWriteR(benchmark::State& state, vmsg::Framing framing)
{
    const Wire wire = wireOf(*buildR());
    std::vector<unsigned char> out(vmsg::maxFramedSize(framing, wire.size));
    const std::size_t size = vmsg::frame(framing, wire.bytes, wire.size, out.data(), out.size());
    vmsg::FrameReader reader(framing);
    const unsigned char* block = nullptr;
    std::size_t length = 0;
    if (size == 0 || reader.feed(out.data(), size) != size || !reader.next(block, length) || length != wire.size ||
        std::memcmp(block, wire.bytes, length) != 0) {
        state.SkipWithError("the framed block does not read back");
        return;
    }
    HeapMeter heap;
    for (auto _ : state) {
        std::size_t n = vmsg::frame(framing, wire.bytes, wire.size, out.data(), out.size());
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
    }
    heap.report(state);
    setBytes(state, size);
}

void Frame_LP_R(benchmark::State& state)
{
    frameWriteR(state, vmsg::Framing::LengthPrefix);
}

void Frame_Cobs_R(benchmark::State& state)
{
    frameWriteR(state, vmsg::Framing::Cobs);
}

// Writes R's values (read from a mutable struct, as msgpack-c's pack reads
// them) with vmsg::Writer. @return the block's size, 0 when it failed.
std::size_t writeR(unsigned char* out, std::size_t capacity, const ValuesR& v)
{
    vmsg::Writer w(out, capacity, kMsgR);
    w.u8(kIdU8a, v.u8a);
    w.u16(kIdU16a, v.u16a);
    w.u32(kIdU32a, v.u32a);
    w.f32(kIdFloat, v.f);
    w.null(kIdNull);
    w.text(kIdShortText, std::string_view(v.shortText, kShortTextLength));
    w.text(kIdLongText, std::string_view(v.longText, kLongTextLength));
    w.bytes(kIdBytes16, v.bytes16, sizeof v.bytes16);
    w.bytes(kIdBytes200, v.bytes200, sizeof v.bytes200);
    w.u32(kIdU32b, v.u32b);
    w.u16(kIdU16b, v.u16b);
    w.u8(kIdU8b, v.u8b);
    return w.ok() ? w.size() : 0;
}

void Writer_R(benchmark::State& state)
{
    const Wire reference = wireOf(*buildR());
    unsigned char out[vmsg::kMaxBlock];
    if (writeR(out, sizeof out, gSourceR) != reference.size || std::memcmp(out, reference.bytes, reference.size)) {
        state.SkipWithError("writing R in place gives other bytes than getMsg");
        return;
    }
    HeapMeter heap;
    for (auto _ : state) {
        std::size_t n = writeR(out, sizeof out, gSourceR);
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
    }
    heap.report(state);
    setBytes(state, reference.size);
}

// sendMessage -> bytesOut -> bytesIn -> getMessage. The received message is
// what the next iteration sends, so nothing is built inside the loop.
void endpointRoundTrip(benchmark::State& state, std::unique_ptr<VMsg> first)
{
    Carrow endpoint(&kDict);
    const Wire reference = wireOf(*first);
    unsigned char out[vmsg::kMaxBlock];
    VMsg* msg = first.release();
    auto trip = [&]() -> bool {
        if (VList* errors = endpoint.sendMessage(msg)) {
            deleteErrors(errors);
            return false;
        }
        msg = nullptr;
        unsigned short length = sizeof out;
        if (VList* errors = endpoint.bytesOut(out, &length)) {
            deleteErrors(errors);
            return false;
        }
        if (VList* errors = endpoint.bytesIn(out, length)) {
            deleteErrors(errors);
            return false;
        }
        msg = endpoint.getMessage();
        return msg != nullptr;
    };
    if (!trip() || reference.size == 0 || std::memcmp(out, reference.bytes, reference.size) != 0) {
        delete msg;
        state.SkipWithError("endpoint round trip failed or changed the bytes");
        return;
    }
    HeapMeter heap;
    for (auto _ : state) {
        if (!trip()) {
            state.SkipWithError("endpoint round trip failed");
            break;
        }
    }
    heap.report(state);
    setBytes(state, reference.size);
    delete msg;
}

void Endpoint_T(benchmark::State& state)
{
    endpointRoundTrip(state, buildT());
}

void Endpoint_R(benchmark::State& state)
{
    endpointRoundTrip(state, buildR());
}

void CheckMessageTags_R(benchmark::State& state)
{
    Carrow endpoint(&kDict);
    std::unique_ptr<VMsg> msg = buildR();
    const CarrowMsgDef* def = endpoint.findMsgDef(kMsgR);
    unsigned char present[kTagsR];
    unsigned count = 0;
    msg->gotoFirst();
    while (VTag* tag = msg->getTag())
        present[count++] = tag->mId;
    unsigned char ids[kTagsR];
    std::memcpy(ids, present, sizeof ids);
    VList* errors = endpoint.checkMessageTags(def, ids, static_cast<unsigned char>(count));
    if (!def || errors) {
        deleteErrors(errors);
        state.SkipWithError("R does not pass its own definition");
        return;
    }
    HeapMeter heap;
    for (auto _ : state) {
        // The check consumes the ids it matches.
        std::memcpy(ids, present, sizeof ids);
        errors = endpoint.checkMessageTags(def, ids, static_cast<unsigned char>(count));
        benchmark::DoNotOptimize(errors);
        deleteErrors(errors);
    }
    heap.report(state);
}

void ParseVMsg_R(benchmark::State& state)
{
    std::unique_ptr<VMsg> msg = buildR();
    {
        std::unique_ptr<CarrowMessage> structured(CarrowMessage::parseVMsg(&kDict, msg.get()));
        if (!structured || structured->mTags.size() != 5 || structured->mObjects.size() != 2 ||
            structured->mObjects[0]->mTags.size() != 1 || structured->mObjects[1]->mTags.size() != 4) {
            state.SkipWithError("R does not group into 5 tags and objects of 1 and 4 tags");
            return;
        }
    }
    HeapMeter heap;
    for (auto _ : state) {
        CarrowMessage* structured = CarrowMessage::parseVMsg(&kDict, msg.get());
        benchmark::DoNotOptimize(structured);
        delete structured;
    }
    heap.report(state);
}

// One pass over L: segment it at the frame size, write every segment, parse
// it and join the parsed segments into a new message, which is the next
// pass's L.
VMsg* segmentPass(VMsg* whole, int frameSize, unsigned char* buffer, unsigned short capacity)
{
    whole->segmentMessage(frameSize);
    auto* joined = new VMsg(whole->mId);
    whole->resetSegment();
    while (VMsg* segment = whole->getNextSegment()) {
        const unsigned short n = segment->getMsg(buffer, capacity);
        VMsg* parsed = VMsg::parseMsg(buffer, n);
        joined->addSegment(parsed);
        delete parsed;
    }
    delete whole;
    return joined;
}

bool sameTags(VMsg& a, VMsg& b)
{
    VTag* x = a.gotoFirst();
    VTag* y = b.gotoFirst();
    unsigned char bufferA[vmsg::kMaxBlock];
    unsigned char bufferB[vmsg::kMaxBlock];
    for (; x && y; x = x->mNext, y = y->mNext) {
        const unsigned short n = x->getTag(bufferA, sizeof bufferA);
        if (n == 0 || n != y->getTag(bufferB, sizeof bufferB) || std::memcmp(bufferA, bufferB, n) != 0)
            return false;
    }
    return !x && !y;
}

void Segment_L(benchmark::State& state)
{
    const int frameSize = static_cast<int>(state.range(0));
    unsigned char buffer[vmsg::kMaxBlock];
    std::unique_ptr<VMsg> reference = buildL();
    VMsg* whole = buildL().release();
    whole = segmentPass(whole, frameSize, buffer, sizeof buffer);
    if (whole->mTagCount != kTagsL || !sameTags(*whole, *reference)) {
        delete whole;
        state.SkipWithError("segmenting and joining L changed its tags");
        return;
    }
    HeapMeter heap;
    for (auto _ : state)
        whole = segmentPass(whole, frameSize, buffer, sizeof buffer);
    heap.report(state);
    setBytes(state, kTagsL * (kBytesL + vmsg::kTagHeaderSize));
    delete whole;
}

// ---------------------------------------------------------------------------
// Joining J, and look-ups by id on large messages (K, M)

constexpr unsigned kTagsJ = 0xFFFF;
constexpr int kFrameJ = 64;

// J's segments as received blocks, written once.
const std::vector<std::vector<unsigned char>>& blocksJ()
{
    static const std::vector<std::vector<unsigned char>> blocks = [] {
        std::vector<std::vector<unsigned char>> out;
        VMsg whole(0x40);
        for (unsigned i = 0; i < kTagsJ; ++i)
            whole.addTag(new VTagUInt8(static_cast<unsigned char>(i), static_cast<unsigned char>(i >> 8)));
        whole.segmentMessage(kFrameJ);
        while (VMsg* segment = whole.getNextSegment()) {
            unsigned char block[kFrameJ];
            const unsigned short n = segment->getMsg(block, sizeof block);
            out.emplace_back(block, block + n);
        }
        return out;
    }();
    return blocks;
}

VMsg* parseBlock(const std::vector<unsigned char>& block)
{
    return VMsg::parseMsg(block.data(), static_cast<unsigned short>(block.size()));
}

// Parses J's blocks and joins them with vmsg::Joiner; with @p rewind the
// joined message is rewound (gotoFirst) and its first tag read between
// segments, as a receiver that looks at it would. Reports the joiner's
// steps per tag, which stay 1 either way.
void joinWithJoiner(benchmark::State& state, bool rewind)
{
    const auto& blocks = blocksJ();
    auto join = [&](std::size_t& steps) {
        vmsg::Joiner joiner;
        for (const auto& block : blocks) {
            std::unique_ptr<VMsg> segment(parseBlock(block));
            if (joiner.add(segment))
                return std::unique_ptr<VMsg>();
            if (rewind) {
                joiner.message()->gotoFirst();
                joiner.message()->getTag();
            }
        }
        steps = joiner.steps();
        return joiner.complete() ? joiner.release() : nullptr;
    };
    std::size_t steps = 0;
    std::unique_ptr<VMsg> joined = join(steps);
    if (!joined || joined->mTagCount != kTagsJ || steps != kTagsJ) {
        state.SkipWithError("joining J with the joiner lost tags or stepped more than once per tag");
        return;
    }
    HeapMeter heap;
    for (auto _ : state) {
        joined = join(steps);
        benchmark::DoNotOptimize(joined.get());
    }
    heap.report(state);
    state.counters["steps_per_tag"] = static_cast<double>(steps) / kTagsJ;
    state.counters["segments"] = static_cast<double>(blocks.size());
}

void Join_Joiner_J(benchmark::State& state)
{
    joinWithJoiner(state, false);
}

void Join_Joiner_Cursor_J(benchmark::State& state)
{
    joinWithJoiner(state, true);
}

// The classic reassembly of the first @p range(0) blocks of J: keep the
// first, addSegment the rest; with range(1) set the joined message is
// rewound between segments, and every addSegment then walks the whole
// joined chain from the first tag.
void Join_AddSegment(benchmark::State& state)
{
    const auto& all = blocksJ();
    const auto count = static_cast<std::size_t>(state.range(0));
    const bool rewind = state.range(1) != 0;
    const std::vector<std::vector<unsigned char>> blocks(all.begin(),
                                                         all.begin() + static_cast<std::ptrdiff_t>(std::min(count, all.size())));
    auto join = [&] {
        VMsg* joined = nullptr;
        for (const auto& block : blocks) {
            VMsg* segment = parseBlock(block);
            if (!joined) {
                joined = segment;
                continue;
            }
            joined->addSegment(segment);
            delete segment;
            if (rewind) {
                joined->gotoFirst();
                joined->getTag();
            }
        }
        return std::unique_ptr<VMsg>(joined);
    };
    std::unique_ptr<VMsg> joined = join();
    unsigned tags = 0;
    for (const VTag* tag = joined ? joined->mFirstTag : nullptr; tag; tag = tag->mNext)
        ++tags;
    if (!joined || tags != joined->mTagCount) {
        state.SkipWithError("joining J with addSegment lost tags");
        return;
    }
    HeapMeter heap;
    for (auto _ : state) {
        joined = join();
        benchmark::DoNotOptimize(joined.get());
    }
    heap.report(state);
    state.counters["tags"] = tags;
}

constexpr unsigned kTagsK = 13000;

// vmsg::missingTags of K against 255 required ids, all present.
void MissingTags_K(benchmark::State& state)
{
    static unsigned char required[255];
    for (unsigned i = 0; i < sizeof required; ++i)
        required[i] = static_cast<unsigned char>(i);
    const CarrowMsgDef def{0x50, sizeof required, required};
    VMsg msg(0x50);
    // The required ids come last, after tags of id 255, which none
    // requires: a search per requirement meets them only at the end.
    for (unsigned i = 0; i < kTagsK; ++i) {
        const unsigned fromEnd = kTagsK - 1 - i;
        msg.addTag(new VTagUInt8(static_cast<unsigned char>(fromEnd < 255 ? 254 - fromEnd : 255), 1));
    }
    if (!vmsg::missingTags(def, msg).empty()) {
        state.SkipWithError("K lacks a required id");
        return;
    }
    HeapMeter heap;
    for (auto _ : state) {
        std::vector<unsigned char> missing = vmsg::missingTags(def, msg);
        benchmark::DoNotOptimize(missing.data());
    }
    heap.report(state);
}

constexpr unsigned kTagsM = 16000;

// vmsg::structure of M by a dictionary of 255 meta definitions (ids 0 to
// 254); the other tags have id 255, which no definition lists.
void Structure_M(benchmark::State& state)
{
    static CarrowMetaDef metaDefs[255];
    for (unsigned i = 0; i < 255; ++i)
        metaDefs[i] = {static_cast<unsigned char>(i), VTag::TagUInt16, "meta", "object"};
    const CarrowDictDef dict = {{0, 0}, 0, 0, 255, nullptr, nullptr, metaDefs};
    VMsg msg(0x60);
    for (unsigned i = 0; i < kTagsM; ++i)
        msg.addTag(new VTagUInt16(i % 16 == 0 ? static_cast<unsigned char>(i / 16 % 255) : 255, 1));
    {
        vmsg::Structure view = vmsg::structure(dict, msg);
        if (!view || view.message->mObjects.size() != kTagsM / 16 || !view.message->mTags.empty()) {
            state.SkipWithError("M does not group into 1000 objects");
            return;
        }
    }
    HeapMeter heap;
    for (auto _ : state) {
        vmsg::Structure view = vmsg::structure(dict, msg);
        benchmark::DoNotOptimize(view.message.get());
    }
    heap.report(state);
}

// ---------------------------------------------------------------------------
// msgpack-c: R's twelve values as one array of 12

// The values come from a mutable global, as an application's data would,
// so that the compiler cannot fold them into the packing code.
void packR(msgpack::sbuffer& buffer, const ValuesR& v)
{
    msgpack::packer<msgpack::sbuffer> packer(buffer);
    packer.pack_array(kTagsR);
    packer.pack_uint8(v.u8a);
    packer.pack_uint16(v.u16a);
    packer.pack_uint32(v.u32a);
    packer.pack_float(v.f);
    packer.pack_nil();
    packer.pack_str(kShortTextLength);
    packer.pack_str_body(v.shortText, kShortTextLength);
    packer.pack_str(kLongTextLength);
    packer.pack_str_body(v.longText, kLongTextLength);
    packer.pack_bin(sizeof v.bytes16);
    packer.pack_bin_body(reinterpret_cast<const char*>(v.bytes16), sizeof v.bytes16);
    packer.pack_bin(sizeof v.bytes200);
    packer.pack_bin_body(reinterpret_cast<const char*>(v.bytes200), sizeof v.bytes200);
    packer.pack_uint32(v.u32b);
    packer.pack_uint16(v.u16b);
    packer.pack_uint8(v.u8b);
}

// Reads every value, copying texts and bytes out as readR does.
bool unpackR(const char* data, std::size_t size, ValuesR& v)
{
    msgpack::object_handle handle = msgpack::unpack(data, size);
    const msgpack::object& root = handle.get();
    if (root.type != msgpack::type::ARRAY || root.via.array.size != kTagsR)
        return false;
    const msgpack::object* item = root.via.array.ptr;
    v.u8a = item[0].as<unsigned char>();
    v.u16a = item[1].as<unsigned short>();
    v.u32a = item[2].as<unsigned int>();
    v.f = item[3].as<float>();
    v.null = item[4].is_nil();
    auto text = [](const msgpack::object& o, char* dst, std::size_t capacity) {
        if (o.type != msgpack::type::STR || o.via.str.size >= capacity)
            return false;
        std::memcpy(dst, o.via.str.ptr, o.via.str.size);
        dst[o.via.str.size] = '\0';
        return true;
    };
    auto bytes = [](const msgpack::object& o, unsigned char* dst, std::size_t capacity) {
        if (o.type != msgpack::type::BIN || o.via.bin.size > capacity)
            return false;
        std::memcpy(dst, o.via.bin.ptr, o.via.bin.size);
        return true;
    };
    if (!text(item[5], v.shortText, sizeof v.shortText) || !text(item[6], v.longText, sizeof v.longText) ||
        !bytes(item[7], v.bytes16, sizeof v.bytes16) || !bytes(item[8], v.bytes200, sizeof v.bytes200))
        return false;
    v.u32b = item[9].as<unsigned int>();
    v.u16b = item[10].as<unsigned short>();
    v.u8b = item[11].as<unsigned char>();
    v.seen = kTagsR;
    return true;
}

void Msgpack_Encode_R(benchmark::State& state)
{
    msgpack::sbuffer buffer(1024);
    packR(buffer, gSourceR);
    const std::size_t size = buffer.size();
    HeapMeter heap;
    for (auto _ : state) {
        buffer.clear();
        packR(buffer, gSourceR);
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    heap.report(state);
    setBytes(state, size);
}

void Msgpack_Decode_R(benchmark::State& state)
{
    msgpack::sbuffer buffer(1024);
    packR(buffer, gSourceR);
    ValuesR values;
    try {
        if (!unpackR(buffer.data(), buffer.size(), values) || !expectedValues(values)) {
            state.SkipWithError("msgpack-c does not give R's values back");
            return;
        }
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    HeapMeter heap;
    for (auto _ : state) {
        bool ok = unpackR(buffer.data(), buffer.size(), values);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(values);
    }
    heap.report(state);
    setBytes(state, buffer.size());
}

// ---------------------------------------------------------------------------
// Floors

void Floor_Memcpy_R(benchmark::State& state)
{
    const Wire wire = wireOf(*buildR());
    unsigned char out[vmsg::kMaxBlock];
    std::size_t size = wire.size;
    benchmark::DoNotOptimize(size);
    HeapMeter heap;
    for (auto _ : state) {
        std::memcpy(out, wire.bytes, size);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    heap.report(state);
    setBytes(state, wire.size);
}

// The blocks that one decode of R takes (sizes in order), recorded once.
std::vector<std::size_t> decodeBlocksR()
{
    const Wire wire = wireOf(*buildR());
    ValuesR values;
    std::size_t sizes[256];
    vbench::startSizeRecording(sizes, 256);
    VMsg* msg = VMsg::parseMsg(wire.bytes, wire.size);
    readR(*msg, values);
    delete msg;
    const std::size_t count = vbench::stopSizeRecording();
    return std::vector<std::size_t>(sizes, sizes + (count < 256 ? count : 256));
}

// As many malloc/free pairs of the same sizes as decoding R takes, each
// block filled with a copy: what any decoder that keeps one heap block per
// object and per payload has to spend.
void Floor_Alloc_R(benchmark::State& state)
{
    const std::vector<std::size_t> sizes = decodeBlocksR();
    if (sizes.empty()) {
        state.SkipWithError("no block sizes were recorded");
        return;
    }
    const Wire wire = wireOf(*buildR());
    unsigned char source[vmsg::kMaxBlock] = {};
    std::memcpy(source, wire.bytes, wire.size);
    std::vector<void*> blocks(sizes.size());
    HeapMeter heap;
    for (auto _ : state) {
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            void* block = std::malloc(sizes[i]);
            if (!block)
                std::abort();
            std::memcpy(block, source, sizes[i] < sizeof source ? sizes[i] : sizeof source);
            blocks[i] = block;
        }
        benchmark::DoNotOptimize(blocks.data());
        benchmark::ClobberMemory();
        for (void* block : blocks)
            std::free(block);
    }
    heap.report(state);
    setBytes(state, wire.size);
    std::string label = std::to_string(sizes.size()) + " blocks";
    state.SetLabel(label);
}

// VMSG_BENCH_ITERATIONS=N runs every benchmark exactly N iterations, for
// instruction profiles that are divided by the iteration count.
void registerAll()
{
    benchmark::IterationCount fixed = 0;
    if (const char* text = std::getenv("VMSG_BENCH_ITERATIONS"))
        fixed = std::strtoll(text, nullptr, 10);
    auto add = [fixed](const char* name, void (*fn)(benchmark::State&)) {
        benchmark::internal::Benchmark* b = benchmark::RegisterBenchmark(name, fn);
        if (fixed > 0)
            b->Iterations(fixed);
        return b;
    };
    add("Encode_R", Encode_R);
    add("BuildEncode_R", BuildEncode_R);
    add("Decode_R", Decode_R);
    add("Reader_R", Reader_R);
    add("FrameRead_LP_R", FrameRead_LP_R);
    add("FrameRead_Cobs_R", FrameRead_Cobs_R);
    add("Frame_LP_R", Frame_LP_R);
    add("Frame_Cobs_R", Frame_Cobs_R);
    add("Writer_R", Writer_R);
    add("Endpoint_T", Endpoint_T);
    add("Endpoint_R", Endpoint_R);
    add("CheckMessageTags_R", CheckMessageTags_R);
    add("ParseVMsg_R", ParseVMsg_R);
    add("Segment_L", Segment_L)->Arg(256)->Arg(1024)->Unit(benchmark::kMicrosecond);
    add("Join_Joiner_J", Join_Joiner_J)->Unit(benchmark::kMicrosecond);
    add("Join_Joiner_Cursor_J", Join_Joiner_Cursor_J)->Unit(benchmark::kMicrosecond);
    // Whole J without rewinding; a quarter of J with it (the whole of J
    // takes seconds that way: the cost grows with the square of the tags).
    add("Join_AddSegment", Join_AddSegment)
        ->Args({5462, 0})
        ->Args({1366, 0})
        ->Args({1366, 1})
        ->ArgNames({"blocks", "rewind"})
        ->Unit(benchmark::kMicrosecond);
    add("MissingTags_K", MissingTags_K)->Unit(benchmark::kMicrosecond);
    add("Structure_M", Structure_M)->Unit(benchmark::kMicrosecond);
    add("Msgpack_Encode_R", Msgpack_Encode_R);
    add("Msgpack_Decode_R", Msgpack_Decode_R);
    add("Floor_Memcpy_R", Floor_Memcpy_R);
    // The block sizes are learnt by counting.
    if (vbench::heapCountingEnabled())
        add("Floor_Alloc_R", Floor_Alloc_R);
}

} // namespace

int main(int argc, char** argv)
{
    fillContent();
    fillSourceR();
    registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    vbench::SummaryReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_ColorTabular
                                                           : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printSummary(std::cout);
    benchmark::Shutdown();
    for (const std::string& name : reporter.failed())
        std::cerr << "vmsg_bench: " << name << " failed its check\n";
    return reporter.failed().empty() ? 0 : 1;
}
