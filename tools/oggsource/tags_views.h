// Views of a file's tags that more than one file of `oggsource tags` makes.
#pragma once
#include <string>

#include <nlohmann/json.hpp>

#include "platform/platform.h"

// Every key of the store, by the property system's name, with its value as JSON.
nlohmann::json StoreView(IPropertyStore* store);

#ifdef OGGSOURCE_MFPLAY
// The tags as a player built on mfplay reads them: MFPCreateMediaPlayer, a media item made synchronously
// from the path (the source resolver finds the handler), its GetMetadata store as StoreView shows it.
HRESULT MfplayView(const std::string& path, nlohmann::json* out);
#endif
