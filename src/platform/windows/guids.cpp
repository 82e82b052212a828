// Every GUID the SDK's headers and the public header declare, defined here once (selectany), so that no import
// library of GUIDs is needed and every name the code uses resolves.
#include <initguid.h>

#include "oggsource.h"
#include "platform/windows/sdk.h"
