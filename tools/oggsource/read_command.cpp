// oggsource read: plays a file through the system's Source Reader, a client of the source that nobody here
// wrote, and prints the same JSON Lines samples as play. Every stream with a media type is selected with its
// native type; samples are read from any stream until every selected stream has ended. --tags prints instead
// what the reader gives of the tags and attributes, as probe's fields.
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "host.h"
#include "json_lines.h"
#include "oggsource.h" // the public header: what any host of the module would include
#include "options.h"
#include "probe.h"

namespace {
std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

int Fail(const std::string& file, const char* what, HRESULT hr) {
    std::fprintf(stderr, "%s: %s (%s)\n", file.c_str(), what, host::HResultText(hr).c_str());
    return 1;
}

HRESULT SetPosition(IMFSourceReader* reader, LONGLONG position) {
    PROPVARIANT v;
    PropVariantInit(&v);
    v.vt = VT_I8;
    v.hVal.QuadPart = position;
    return reader->SetCurrentPosition(GUID_NULL, v);
}

// The stream ids in presentation order (the reader's stream indexes), with the streams that can play.
HRESULT Streams(IMFSourceReader* reader, std::vector<DWORD>* ids, std::vector<bool>* playable) {
    PlatRef<IMFMediaSource> source;
    HRESULT hr = reader->GetServiceForStream(MF_SOURCE_READER_MEDIASOURCE, GUID_NULL, IID_IMFMediaSource,
                                             reinterpret_cast<void**>(&source));
    if (FAILED(hr)) return hr;
    if (!host::IsOggSource(source.Get())) return MF_E_UNSUPPORTED_BYTESTREAM_TYPE;
    PlatRef<IMFPresentationDescriptor> pd;
    DWORD count = 0;
    hr = source->CreatePresentationDescriptor(&pd);
    if (SUCCEEDED(hr)) hr = pd->GetStreamDescriptorCount(&count);
    for (DWORD i = 0; SUCCEEDED(hr) && i < count; ++i) {
        BOOL selected = FALSE;
        PlatRef<IMFStreamDescriptor> sd;
        PlatRef<IMFMediaTypeHandler> handler;
        DWORD id = 0;
        GUID major = GUID_NULL;
        hr = pd->GetStreamDescriptorByIndex(i, &selected, &sd);
        if (SUCCEEDED(hr)) hr = sd->GetStreamIdentifier(&id);
        if (FAILED(hr)) break;
        ids->push_back(id);
        playable->push_back(SUCCEEDED(sd->GetMediaTypeHandler(&handler)) && SUCCEEDED(handler->GetMajorType(&major)) &&
                            !IsEqualGUID(major, GUID_NULL));
    }
    return hr;
}

// A presentation or stream attribute through the reader: text as UTF-8, a number, else null.
nlohmann::json ReaderAttribute(IMFSourceReader* reader, DWORD index, REFGUID key) {
    PROPVARIANT v;
    PropVariantInit(&v);
    if (FAILED(reader->GetPresentationAttribute(index, key, &v))) return nullptr;
    nlohmann::json j;
    if (v.vt == VT_LPWSTR) j = host::Utf8(v.pwszVal);
    if (v.vt == VT_UI8) j = static_cast<uint64_t>(v.uhVal.QuadPart);
    if (v.vt == VT_UI4) j = static_cast<uint32_t>(v.ulVal);
    PropVariantClear(&v);
    return j;
}

// The tags as a host using the reader gets them: the source's store (GetServiceForStream) and the
// descriptors' attributes (GetPresentationAttribute), in probe's field names.
nlohmann::json ReaderTags(IMFSourceReader* reader, const std::vector<DWORD>& ids) {
    nlohmann::json j;
    PlatRef<IPropertyStore> store;
    j["tags"] =
        SUCCEEDED(reader->GetServiceForStream(MF_SOURCE_READER_MEDIASOURCE, MF_PROPERTY_HANDLER_SERVICE,
                                              IID_IPropertyStore, reinterpret_cast<void**>(&store)))
            ? host::StoreTags(store.Get())
            : nullptr;
    j["mime_type"] = ReaderAttribute(reader, MF_SOURCE_READER_MEDIASOURCE, MF_PD_MIME_TYPE);
    j["file_size"] = ReaderAttribute(reader, MF_SOURCE_READER_MEDIASOURCE, MF_PD_TOTAL_FILE_SIZE);
    j["audio_bitrate"] = ReaderAttribute(reader, MF_SOURCE_READER_MEDIASOURCE, MF_PD_AUDIO_ENCODING_BITRATE);
    j["streams"] = nlohmann::json::array();
    for (DWORD i = 0; i < ids.size(); ++i) {
        nlohmann::json s;
        s["id"] = ids[i];
        s["language"] = ReaderAttribute(reader, i, MF_SD_LANGUAGE);
        s["name"] = ReaderAttribute(reader, i, MF_SD_STREAM_NAME);
        j["streams"].push_back(s);
    }
    return j;
}

// Every stream that can play, selected with its first native type as the current one.
HRESULT SelectNative(IMFSourceReader* reader, const std::vector<bool>& playable) {
    for (DWORD i = 0; i < playable.size(); ++i) {
        HRESULT hr = reader->SetStreamSelection(i, playable[i] ? TRUE : FALSE);
        if (FAILED(hr) || !playable[i]) {
            if (FAILED(hr)) return hr;
            continue;
        }
        PlatRef<IMFMediaType> type;
        hr = reader->GetNativeMediaType(i, 0, &type);
        if (SUCCEEDED(hr)) hr = reader->SetCurrentMediaType(i, nullptr, type.Get());
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

// The reader over the file, or (--unseekable) over a stream of it without seek or length, which the reader's
// resolver can only tell by its MIME type.
HRESULT Open(const std::string& file, const host::OpenOptions& openAs, IMFSourceReader** reader) {
    if (!openAs.unseekable) return MFCreateSourceReaderFromURL(Wide(file).c_str(), nullptr, reader);
    PlatRef<IMFByteStream> stream;
    const HRESULT hr = host::CreateUnseekableStream(file, openAs.contentType, &stream);
    return FAILED(hr) ? hr : MFCreateSourceReaderFromByteStream(stream.Get(), nullptr, reader);
}
} // namespace

int ReadCommand(const std::vector<std::string>& args) {
    std::string file;
    host::OpenOptions openAs;
    LONGLONG start = 0, seekWhen = -1, seekTo = 0;
    bool startAt = false, tags = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool more = i + 1 < args.size();
        if (a == "--json") {
        } else if (a == "--tags") {
            tags = true;
        } else if (a == "--start" && more && host::ParseSeconds(args[i + 1], &start)) {
            startAt = true;
            ++i;
        } else if (a == "--seek-at" && more && host::ParseSeekAt(args[i + 1], &seekWhen, &seekTo)) {
            ++i;
        } else if (host::TakeOpenOption(args, &i, &openAs)) {
        } else if (!a.empty() && a[0] != '-' && file.empty()) {
            file = a;
        } else {
            std::fprintf(stderr, "oggsource read: unexpected argument %s\n", a.c_str());
            return 2;
        }
    }
    const char* wrong = host::OpenOptionsError(openAs, false);
    if (file.empty() || wrong) {
        if (wrong) std::fprintf(stderr, "oggsource read: %s\n", wrong);
        std::fprintf(stderr,
                     "usage: oggsource read [--json | --tags] [--start SECONDS] [--seek-at SECONDS:TARGET] "
                     "[--unseekable [--content-type TYPE]] FILE\n");
        return 2;
    }
    PlatRef<IMFSourceReader> reader;
    HRESULT hr = Open(file, openAs, &reader);
    if (hr == E_NOTIMPL) {
        std::fprintf(stderr, "oggsource read: the Source Reader is a Windows component, and this platform has none; "
                             "oggsource play drives the source itself\n");
        return 1;
    }
    if (FAILED(hr)) return Fail(file, "the Source Reader cannot open it", hr);
    std::vector<DWORD> ids;
    std::vector<bool> playable;
    hr = Streams(reader.Get(), &ids, &playable);
    if (hr == MF_E_UNSUPPORTED_BYTESTREAM_TYPE) return Fail(file, "opened by another media source, not the Ogg source", hr);
    if (SUCCEEDED(hr) && tags) {
        std::printf("%s\n", ReaderTags(reader.Get(), ids).dump().c_str());
        return 0;
    }
    if (SUCCEEDED(hr)) hr = SelectNative(reader.Get(), playable);
    if (FAILED(hr)) return Fail(file, "cannot be read", hr);
    std::set<DWORD> ended;
    size_t selected = 0;
    for (bool p : playable) selected += p;
    // Wine's reader starts the source at 0 on the first read, whatever position was set before it: the
    // position is set after the first sample, which is not printed.
    bool positioned = !startAt, seeked = false;
    while (ended.size() < selected) {
        // Any stream, until one has ended; then the others one by one (Wine's reader keeps answering a read
        // from any stream with the end of the stream that ended first).
        DWORD want = MF_SOURCE_READER_ANY_STREAM;
        if (!ended.empty())
            for (DWORD i = 0; i < playable.size() && want == MF_SOURCE_READER_ANY_STREAM; ++i)
                if (playable[i] && !ended.count(i)) want = i;
        DWORD index = 0, flags = 0;
        LONGLONG timestamp = 0;
        PlatRef<IMFSample> sample;
        hr = reader->ReadSample(want, 0, &index, &flags, &timestamp, &sample);
        if (FAILED(hr) || (flags & MF_SOURCE_READERF_ERROR)) return Fail(file, "reading failed", FAILED(hr) ? hr : E_FAIL);
        if (!positioned) {
            positioned = true;
            hr = SetPosition(reader.Get(), start);
            if (FAILED(hr)) return Fail(file, "the start position cannot be set", hr);
            continue;
        }
        if (index < ids.size() && sample) {
            host::Sample s;
            if (host::ReadSample(sample.Get(), ids[index], true, &s)) std::printf("%s\n", host::SampleLine(s).c_str());
            if (seekWhen >= 0 && !seeked && s.time >= seekWhen) {
                seeked = true;
                hr = SetPosition(reader.Get(), seekTo);
                if (FAILED(hr)) return Fail(file, "the seek failed", hr);
                ended.clear();
                continue;
            }
        }
        if (flags & MF_SOURCE_READERF_ENDOFSTREAM) ended.insert(index);
    }
    return 0;
}
