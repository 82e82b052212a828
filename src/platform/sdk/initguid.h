/* The stand-in's initguid.h: the DEFINE_GUIDs that follow define their GUIDs (C), as on Windows. */
#define INITGUID
#include "guiddef.h"
