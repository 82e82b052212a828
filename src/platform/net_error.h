// The process's last network failure, as text: set by the http byte stream where a failure happens.
#pragma once

void PlatSetLastNetworkError(const char* text);
