// A loadable library that logs under a category of its own, named by a
// string literal of the library (VMSG_PLUGIN_CATEGORY). The logging tests
// build it twice, under two names of the same length, and load one copy
// after the other has been unloaded, so that the second copy's literal is
// likely to lie where the first one's was.
#include <cVlog.h>

#define VMSG_PLUGIN_API extern "C" __attribute__((visibility("default")))

/// The address of the category name this copy logs under.
VMSG_PLUGIN_API const char* pluginCategory()
{
    return VMSG_PLUGIN_CATEGORY;
}

/// Writes @p text as a debug line of a new logger of this copy's category.
VMSG_PLUGIN_API void pluginLog(const char* text)
{
    cVlog logger(VMSG_PLUGIN_CATEGORY);
    logger.debug("%s", text);
}
