// Tag construction used by the codec and the factory.
#ifndef VMSG_SRC_TAGS_TAGFACTORYINTERNAL_H
#define VMSG_SRC_TAGS_TAGFACTORYINTERNAL_H

#include <VTag.h>

namespace vmsg {

/// A new tag of type @p code from the @p length payload bytes at @p payload
/// (all readable), or null for an unknown code or a fixed-size type given
/// fewer bytes than its size. Never reads beyond payload + length.
VTag* tagFromWire(unsigned char id, unsigned char code, const unsigned char* payload,
                  unsigned int length);

} // namespace vmsg

#endif
