// Stream descriptor attributes of this source, for hosts that want to know more than the media type says: their
// GUIDs, types and meanings are in the public header.
#pragma once
#include "platform/platform.h"

#include "oggsource.h"
