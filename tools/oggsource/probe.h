// What a host learns of a file from the source: presentation duration and each stream's description.
#pragma once
#include <nlohmann/json.hpp>

#include "host.h"

namespace host {
// Describes the open source as JSON (the fields of `oggsource probe --json`).
HRESULT Describe(IMFMediaSource* source, nlohmann::json* out);
// What a byte stream tells its source (capabilities, length: null when unknown) and how it answers a seek one
// byte ahead of where it is and one to where it is ("seek_ahead", "seek_here": the HRESULT by name). For a
// stream the host made itself (--unseekable): the seeks move a seekable stream.
nlohmann::json DescribeByteStream(IMFByteStream* stream);
// A chained file described: each link's tags ("tags" of each of out's "links"), as a host learns them: the
// source started at the link's start, one sample taken, its store read. The source is left stopped.
void DescribeLinkTags(IMFMediaSource* source, nlohmann::json* out);
std::string GuidText(REFGUID g);
// The tags a property store holds, as probe's "tags" shows them (null-free: absent keys are left out).
nlohmann::json StoreTags(IPropertyStore* store);
// Wide text (UTF-16 on Windows, UTF-32 elsewhere) as UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf8(const WCHAR* w);
// A media type's details as probe shows them (channels, sample_rate, width, height...).
void TypeDetails(IMFMediaType* type, nlohmann::json* out);
} // namespace host
