// Whether a debug line of the library's own categories would be written,
// asked without an object's first-line category lookup.
#ifndef VMSG_SRC_LOGGING_DEBUGLINES_H
#define VMSG_SRC_LOGGING_DEBUGLINES_H

namespace vmsg::log {

/// True when a debug line of category "VMsg" would be written now: logging
/// is available and the category, or the one it inherits from, has debug
/// on. This is what cVlog::debug checks before it formats; a VMsg asks it
/// first, so that the many messages made and destroyed while debug is off
/// (every received block, every segment) skip the per-object lookup of
/// their category. When it answers true the line goes through cVlog::debug
/// as before, to the same category, with the same text.
bool vmsgDebugOn() noexcept;

} // namespace vmsg::log

#endif
