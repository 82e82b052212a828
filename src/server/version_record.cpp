// The module's version, in a section of its own, where the platform reads it from the file.
#include "platform/module.h"

extern "C" PLAT_VERSION_SECTION const PlatVersionRecord g_oggsourceVersion = {
    PLAT_VERSION_MAGIC,
    (OGGSOURCE_VERSION_MAJOR << 16) | OGGSOURCE_VERSION_MINOR,
    (OGGSOURCE_VERSION_PATCH << 16) | 0,
};
