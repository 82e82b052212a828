// The module's version, in a section of its own, where the platform reads it from the file.
#include "platform/module.h"

extern "C" __attribute__((used, section(".oggsrc_version"))) const PlatVersionRecord g_oggsourceVersion = {
    PLAT_VERSION_MAGIC,
    (OGGSOURCE_VERSION_MAJOR << 16) | OGGSOURCE_VERSION_MINOR,
    (OGGSOURCE_VERSION_PATCH << 16) | 0,
};
