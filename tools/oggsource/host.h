// What any Media Foundation host does with this source: open a file through the byte-stream handler,
// then start the source and pull samples from every selected stream, driven by events.
#pragma once
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com_impl.h"
#include "platform/platform.h"

namespace host {

// Opens as hosts do: through the source resolver, which finds the handler registered for the extension,
// loads its module and drives BeginCreateObject / EndCreateObject.
HRESULT OpenByteStream(IMFByteStream* stream, IMFMediaSource** source, const std::string& url = "stream.ogg");
// A path, a file: URL, or an http:// or https:// URL (IsUrl), which OpenUrl opens.
HRESULT OpenFile(const std::string& path, IMFMediaSource** source);
// Opens a file as a stream that cannot seek and has no length (CreateUnseekableStream) announcing
// contentType: the resolver is given a URL without the file's extension and may not try handlers by content,
// so only the MIME type can find the handler. stream: the stream made, when asked for.
HRESULT OpenUnseekable(const std::string& path, const std::string& contentType, IMFMediaSource** source,
                       IMFByteStream** stream = nullptr);
// True for the URLs of a network scheme handler: http:// and https://.
bool IsUrl(const std::string& name);
// Opens a URL as hosts do: the resolver's scheme handler makes the byte stream (MF_RESOLUTION_BYTESTREAM),
// which the host keeps (to show how much was received), and then the handler makes the source from it.
HRESULT OpenUrl(const std::string& url, IMFMediaSource** source, IMFByteStream** stream);
// Why a network stream failed, as its byte stream tells ("http://...: HTTP 404 Not Found"); "" when it
// does not say (a file, or the system's own byte stream). stream: the one that failed, when known.
std::string NetworkErrorText(IMFByteStream* stream = nullptr);
// True when every stream of the source carries this module's codec attribute: the resolver chose our
// handler, not another one registered for the same extension (or a system's fallback).
bool IsOggSource(IMFMediaSource* source);
// Loads a module and calls one of its entry points ("DllRegisterServer", "DllUnregisterServer").
HRESULT CallModule(const std::string& module, const char* entry);
// "MF_E_SHUTDOWN (0xC00D3E85)" or "0x80004005".
std::string HResultText(HRESULT hr);

struct Sample {
    DWORD stream = 0;
    LONGLONG time = 0, duration = 0;
    DWORD size = 0;
    bool clean = false, discontinuity = false;
    uint32_t crc = 0;             // CRC-32 of the payload (zlib's)
    std::vector<uint8_t> payload; // the payload's bytes, when PlayOptions::payloads asks for them
};

// A stream's new format (MEStreamFormatChanged): what a host reads of it.
struct FormatChange {
    DWORD stream = 0;
    size_t beforeSample = 0; // the index (in PlayResult::samples) of the first sample in the new format
    UINT32 channels = 0, sampleRate = 0, width = 0, height = 0;
};

struct PlayOptions {
    bool startAt = false; // Start with a VT_I8 position (else VT_EMPTY)
    LONGLONG start = 0;
    float rate = 1.0f;          // set through the rate control service before the start
    std::vector<DWORD> streams; // stream ids to select (empty: the source's default selection)
    LONGLONG seekWhen = -1;     // when a sample at or after this time arrives...
    LONGLONG seekTo = 0;        // ...start again at this position, while playing
    unsigned timeoutMs = 60000; // no event for this long: give up
    size_t maxSamples = 0;      // stop after this many samples (0: no limit)
    int requests = 2;           // sample requests kept outstanding per active stream
    bool checksums = true;      // the CRC-32 of every payload (Sample::crc; 0 when off)
    bool payloads = false;      // a copy of every payload (Sample::payload), for a host that decodes
    bool keepSamples = true;    // PlayResult::samples (a host that only counts keeps none: memory stays flat)
    // Every source and stream event as it is handled (stream: its id, or -1 for the source).
    std::function<void(MediaEventType type, int64_t stream, HRESULT status)> onEvent;
    std::function<void(const FormatChange&)> onFormat;
    // Each MESourceMetadataChanged: the link it names (-1: none) and its store of that link's tags (may be null).
    std::function<void(int link, IPropertyStore* tags)> onLinkTold;
    // The play ends once this answers true (asked after each event is handled).
    std::function<bool()> until;
};

// What a host reads of a sample: times, flags, size and (when asked) the payload's CRC-32.
bool ReadSample(IMFSample* sample, DWORD id, bool checksum, Sample* out, bool payload = false);

// "MESourceStarted", or the number for an event this host does not name.
std::string EventName(MediaEventType type);

struct PlayResult {
    HRESULT status = S_OK; // first failure (MEError, a failed call), S_OK otherwise
    bool endOfPresentation = false;
    bool timedOut = false;
    std::vector<Sample> samples; // in arrival order (when kept)
    size_t sampleCount = 0;      // every sample, kept or not
    std::vector<MediaEventType> sourceEvents;
    std::map<DWORD, std::vector<MediaEventType>> streamEvents;
    std::map<DWORD, int> endOfStream; // MEEndOfStream count per stream
    // The presentation selected no stream by default (a file of subtitles alone, say): the host selected
    // these, every stream that has a media type; none at all when nothing can be played.
    std::vector<DWORD> selectedForPlay;
    bool nothingToPlay = false;
    std::vector<FormatChange> formatChanges;
    // Each MESourceMetadataChanged: the link it names (MF_PD_OGG_LINK in its value), -1 when it names none,
    // and the title its store of the link's tags holds (MF_PD_OGG_LINK_PROPERTIES; "" for none).
    std::vector<int> linksTold;
    std::vector<std::string> linkTitles;
};

// A host that listens to a source's events once and can play it several times (stop, play again).
class Player {
public:
    explicit Player(IMFMediaSource* source);
    ~Player();
    PlayResult Play(const PlayOptions& options, const std::function<void(const Sample&)>& onSample = nullptr);

private:
    class Session;
    std::shared_ptr<Session> m_session; // shared with its listeners, which may outlive the player
};

// Plays the source from Start to MEEndOfPresentation (or the first error), pulling every selected stream.
PlayResult Play(IMFMediaSource* source, const PlayOptions& options,
                const std::function<void(const Sample&)>& onSample = nullptr);

} // namespace host
