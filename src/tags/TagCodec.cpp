// The tag wire layout: id, type code, 16-bit big-endian payload length,
// payload. getTag writes one tag, parseTag reads one; both go through the
// wire rules that vmsg::Reader and vmsg::Writer use.
#include <VTag.h>
#include <VWire.h>

#include "tags/TagAccess.h"
#include "tags/TagWire.h"

unsigned short VTag::getTag(void* out, unsigned short size) const
{
    return out ? vmsg::writeTag(*this, static_cast<unsigned char*>(out), size) : 0;
}

VTag* VTag::parseTag(void* in, unsigned short length, void** next)
{
    if (!in)
        return nullptr;
    vmsg::TagView view;
    const vmsg::Stop stop = vmsg::readTag(static_cast<const unsigned char*>(in), length, 0, view);
    // Without the whole declared tag there is no next position to give.
    if (stop == vmsg::Stop::ShortTagHeader || stop == vmsg::Stop::LengthBeyondBlock)
        return nullptr;
    if (next)
        *next = static_cast<unsigned char*>(in) + view.size();
    return stop == vmsg::Stop::End ? vmsg::makeTag(view) : nullptr;
}
