// The JSON Lines that play and read print: one object per sample and per event. They are the comparison
// format between builds and between hosts.
#pragma once
#include <cstdint>
#include <string>

#include "host.h"

namespace host {
std::string SampleLine(const Sample& s);
// stream: the stream's id, or -1 for the source's own events.
std::string EventLine(MediaEventType type, int64_t stream, HRESULT status);
} // namespace host
