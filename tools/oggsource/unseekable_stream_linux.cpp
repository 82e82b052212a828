// The stand-in's fault byte stream posing as a stream that cannot seek and has no length: the Linux build's
// making of what the Windows host wraps the system's file byte stream into.
#include "unseekable_stream.h"

namespace host {

HRESULT CreateUnseekableStream(const std::string& path, const std::string& contentType,
                               IMFByteStream** stream) {
    if (!stream) return E_POINTER;
    *stream = nullptr;
    PlatRef<IMFByteStream> file, wrapped;
    HRESULT hr = MFCreateFileByteStreamA(path.c_str(), &file);
    FaultConfig config;
    config.notSeekable = true;
    config.lengthUnknown = true;
    if (SUCCEEDED(hr)) hr = MFCreateFaultByteStream(file.Get(), &config, &wrapped);
    // The fault stream's attributes are those of the file stream it wraps.
    PlatRef<IMFAttributes> attributes;
    if (SUCCEEDED(hr)) hr = wrapped->QueryInterface(IID_IMFAttributes, reinterpret_cast<void**>(&attributes));
    const std::wstring type(contentType.begin(), contentType.end());
    if (SUCCEEDED(hr)) hr = attributes->SetString(MF_BYTESTREAM_CONTENT_TYPE, type.c_str());
    if (SUCCEEDED(hr)) *stream = wrapped.Detach();
    return hr;
}

} // namespace host
