// Matching the tags present against a message definition's required ids;
// shared by Carrow::checkMessageTags and vmsg::missingTags.
#ifndef VMSG_SRC_ENDPOINT_REQUIREDTAGS_H
#define VMSG_SRC_ENDPOINT_REQUIREDTAGS_H

#include <Carrow.h>

#include <cstddef>

namespace vmsg {

/// Marks an id of the array that has satisfied a requirement.
inline constexpr unsigned char kConsumedTagId = 255;

/// Calls @p missing(id) for every required id of @p def, in order, that
/// the @p count ids at @p ids do not supply. Each present id satisfies one
/// requirement: the first element equal to a required id is overwritten
/// with 255, so an id required twice must be present twice (and a consumed
/// element then satisfies a required id of 255).
template <typename Missing>
void matchRequiredTags(const CarrowMsgDef& def, unsigned char* ids, std::size_t count, Missing&& missing)
{
    for (unsigned r = 0; r < def.mRequiredCount; ++r) {
        const unsigned char required = def.mRequiredTags[r];
        bool found = false;
        for (std::size_t i = 0; i < count && !found; ++i) {
            if (ids[i] == required) {
                ids[i] = kConsumedTagId;
                found = true;
            }
        }
        if (!found)
            missing(required);
    }
}

} // namespace vmsg

#endif
