// Fuzz target: one tag read from arbitrary bytes.
//
// parseTag must stay inside the input, report the next position exactly when
// the declared tag fits, and accept exactly the tags it documents. An
// accepted tag must hold what the input said (after the documented cuts),
// survive getTag + parseTag unchanged, and clone into an equal tag of the
// same class. A plain VTag given the same type code and payload must clone
// into the tag that parseTag built.
#include "FuzzSupport.h"

#include <VTag.h>
#include <VWire.h>

#include <algorithm>
#include <memory>
#include <typeinfo>

using vmsgfuzz::encodeTag;
using vmsg::loadBE16;
using vmsg::loadBE32;
using vmsgfuzz::sameClass;
using vmsgfuzz::sameTag;
using vmsgfuzz::typeCode;

namespace {

// Payload size of the fixed-size types; 0 for the others.
unsigned fixedSize(unsigned code)
{
    const vmsg::TypeInfo* type = vmsg::typeInfo(code);
    return type ? type->minPayload() : 0;
}

// The class parseTag builds for @p code.
bool hasClassFor(const VTag& tag, unsigned code)
{
    switch (code) {
    case VTag::TagNull:
        return typeid(tag) == typeid(VTagNull);
    case VTag::TagString:
        return typeid(tag) == typeid(VTagString);
    case VTag::TagUInt32:
        return typeid(tag) == typeid(VTagUInt32);
    case VTag::TagUInt16:
        return typeid(tag) == typeid(VTagUInt16);
    case VTag::TagUInt8:
        return typeid(tag) == typeid(VTagUInt8);
    case VTag::TagBytes:
        return typeid(tag) == typeid(VTagBytes);
    case VTag::TagFloat:
        return typeid(tag) == typeid(VTagFloat);
    default:
        return false;
    }
}

// The tag holds what the @p declared payload bytes at @p payload say.
void checkContent(VTag& tag, const unsigned char* payload, unsigned declared)
{
    const unsigned code = static_cast<unsigned>(typeCode(tag));
    FUZZ_CHECK(hasClassFor(tag, code));
    FUZZ_CHECK(tag.mNext == nullptr);
    FUZZ_CHECK(tag.mData != nullptr || tag.mLength == 0);
    FUZZ_CHECK(tag.mLength <= vmsg::kMaxPayload);
    FUZZ_CHECK(tag.mLength <= tag.getMaxLength());
    if (const unsigned size = fixedSize(code)) {
        FUZZ_CHECK(tag.mLength == size);
        FUZZ_CHECK(std::memcmp(tag.mData, payload, size) == 0);
    }
    switch (code) {
    case VTag::TagNull:
        FUZZ_CHECK(tag.mLength == 0);
        break;
    case VTag::TagString: {
        // The text ends at the first NUL or with the payload, and keeps at
        // most 1017 characters; the tag adds the NUL.
        const auto* nul = static_cast<const unsigned char*>(std::memchr(payload, 0, declared));
        const unsigned text = std::min<unsigned>(nul ? static_cast<unsigned>(nul - payload) : declared,
                                                 vmsg::kMaxPayload - 1);
        FUZZ_CHECK(tag.mLength == text + 1);
        FUZZ_CHECK(std::memcmp(tag.mData, payload, text) == 0);
        FUZZ_CHECK(tag.mData[text] == 0);
        auto& string = static_cast<VTagString&>(tag);
        std::vector<char> value(tag.mLength);
        FUZZ_CHECK(string.getValue(value.data(), tag.mLength) == tag.mLength);
        FUZZ_CHECK(std::memcmp(value.data(), tag.mData, tag.mLength) == 0);
        FUZZ_CHECK(string.getValue(value.data(), static_cast<unsigned short>(tag.mLength - 1)) == 0);
        break;
    }
    case VTag::TagUInt32:
    case VTag::TagFloat: {
        auto& number = static_cast<VTagUInt32&>(tag);
        FUZZ_CHECK(number.getValue() == loadBE32(payload));
        const float value = number.getFloatValue();
        std::uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        FUZZ_CHECK(bits == loadBE32(payload));
        break;
    }
    case VTag::TagUInt16:
        FUZZ_CHECK(static_cast<VTagUInt16&>(tag).getValue() == loadBE16(payload));
        break;
    case VTag::TagUInt8:
        FUZZ_CHECK(static_cast<VTagUInt8&>(tag).getValue() == payload[0]);
        break;
    case VTag::TagBytes: {
        const unsigned kept = std::min<unsigned>(declared, vmsg::kMaxPayload);
        FUZZ_CHECK(tag.mLength == kept);
        FUZZ_CHECK(kept == 0 || std::memcmp(tag.mData, payload, kept) == 0);
        auto& bytes = static_cast<VTagBytes&>(tag);
        std::vector<unsigned char> value(kept + 1u);
        FUZZ_CHECK(bytes.getValue(value.data(), static_cast<unsigned short>(kept)) == kept);
        FUZZ_CHECK(kept == 0 || std::memcmp(value.data(), tag.mData, kept) == 0);
        if (kept)
            FUZZ_CHECK(bytes.getValue(value.data(), static_cast<unsigned short>(kept - 1)) == 0);
        break;
    }
    default:
        FUZZ_CHECK(!"parseTag built a tag of an unknown type code");
    }
}

// getTag refuses short and null buffers without writing, and writes exactly
// the tag into an exact buffer; parsing that gives an equal tag.
std::vector<unsigned char> checkRoundTrip(const VTag& tag)
{
    const unsigned whole = tag.mLength + 4u;
    std::vector<unsigned char> shortBuffer(whole - 1, 0xA5);
    FUZZ_CHECK(tag.getTag(shortBuffer.data(), static_cast<unsigned short>(whole - 1)) == 0);
    FUZZ_CHECK(std::all_of(shortBuffer.begin(), shortBuffer.end(), [](unsigned char b) { return b == 0xA5; }));
    FUZZ_CHECK(tag.getTag(nullptr, static_cast<unsigned short>(whole)) == 0);

    std::vector<unsigned char> wire = encodeTag(tag);
    FUZZ_CHECK(wire[0] == tag.mId);
    FUZZ_CHECK(wire[1] == typeCode(tag));
    FUZZ_CHECK(loadBE16(&wire[2]) == tag.mLength);

    void* next = nullptr;
    std::unique_ptr<VTag> again(VTag::parseTag(wire.data(), static_cast<unsigned short>(wire.size()), &next));
    FUZZ_CHECK(again != nullptr);
    FUZZ_CHECK(next == wire.data() + wire.size());
    FUZZ_CHECK(sameTag(*again, tag));
    FUZZ_CHECK(sameClass(*again, tag));
    return wire;
}

// A clone equals its source, is of the same class, unlinked, and owns its
// own payload.
void checkClone(VTag& tag, const std::vector<unsigned char>& wire)
{
    std::unique_ptr<VTag> clone(VTagFactory::createVTag(&tag));
    FUZZ_CHECK(clone != nullptr);
    FUZZ_CHECK(sameTag(*clone, tag));
    FUZZ_CHECK(sameClass(*clone, tag));
    FUZZ_CHECK(clone->mNext == nullptr);
    FUZZ_CHECK(clone->mData == nullptr || clone->mData != tag.mData);
    FUZZ_CHECK(encodeTag(*clone) == wire);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const unsigned short length = static_cast<unsigned short>(std::min<std::size_t>(size, 0xFFFF));
    // An exact-size copy: parseTag takes a writable pointer, and a write, or
    // a read past the end, must show.
    std::vector<unsigned char> in(data, data + length);
    unsigned char sentinel = 0;
    void* next = &sentinel;
    std::unique_ptr<VTag> tag(VTag::parseTag(in.data(), length, &next));
    FUZZ_CHECK(std::equal(in.begin(), in.end(), data));

    if (length < 4) {
        FUZZ_CHECK(tag == nullptr);
        FUZZ_CHECK(next == &sentinel);
        return 0;
    }
    const unsigned declared = loadBE16(&in[2]);
    if (declared + 4u > length) {
        FUZZ_CHECK(tag == nullptr);
        FUZZ_CHECK(next == &sentinel);
        return 0;
    }
    // The declared tag fits: the next position follows it, whatever the type.
    FUZZ_CHECK(next == in.data() + 4 + declared);

    const unsigned code = in[1];
    const bool accepted = vmsg::typeInfo(code) != nullptr && declared >= fixedSize(code);
    FUZZ_CHECK((tag != nullptr) == accepted);

    std::unique_ptr<VTag> withoutNext(VTag::parseTag(in.data(), length, nullptr));
    FUZZ_CHECK((withoutNext != nullptr) == accepted);
    if (!accepted)
        return 0;
    FUZZ_CHECK(sameTag(*withoutNext, *tag));
    FUZZ_CHECK(tag->mId == in[0]);

    checkContent(*tag, in.data() + 4, declared);
    const std::vector<unsigned char> wire = checkRoundTrip(*tag);
    checkClone(*tag, wire);

    // A plain VTag with the same code and the raw payload (setData keeps at
    // most 1018 bytes) clones into the parsed tag.
    VTag plain(in[0], static_cast<VTag::VTagType>(code));
    plain.setData(in.data() + 4, static_cast<unsigned short>(declared));
    FUZZ_CHECK(plain.mLength == std::min<unsigned>(declared, vmsg::kMaxPayload));
    std::unique_ptr<VTag> fromPlain(VTagFactory::createVTag(&plain));
    FUZZ_CHECK(fromPlain != nullptr);
    FUZZ_CHECK(sameTag(*fromPlain, *tag));
    FUZZ_CHECK(sameClass(*fromPlain, *tag));
    return 0;
}
