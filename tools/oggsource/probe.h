// What a host learns of a file from the source: presentation duration and each stream's description.
#pragma once
#include <nlohmann/json.hpp>

#include "host.h"

namespace host {
// Describes the open source as JSON (the fields of `oggsource probe --json`).
HRESULT Describe(IMFMediaSource* source, nlohmann::json* out);
std::string GuidText(REFGUID g);
// A media type's details as probe shows them (channels, sample_rate, width, height...).
void TypeDetails(IMFMediaType* type, nlohmann::json* out);
} // namespace host
