// The media type record: an AM_MEDIA_TYPE that owns its format block.
#pragma once
#include "alloc.h"
#include "platform/platform.h"

class CAMMediaType : public AM_MEDIA_TYPE, public CNoThrowAlloc {
public:
    CAMMediaType() { Init(); }
    CAMMediaType(const CAMMediaType& source, HRESULT* phr = nullptr);
    ~CAMMediaType() { Clear(); }
    CAMMediaType& operator=(const CAMMediaType& source) {
        Set(source);
        return *this;
    }

    void Init();
    void Clear();
    HRESULT Set(const CAMMediaType& source);

    void SetType(const GUID& major) { majortype = major; }
    void SetSubtype(const GUID& sub) { subtype = sub; }
    void SetFormatType(const GUID& format) { formattype = format; }
    void SetTemporalCompression(BOOL compressed) { bTemporalCompression = compressed; }
    void SetVariableSize() { bFixedSizeSamples = FALSE; }
    void SetSampleSize(ULONG size) { lSampleSize = size; }

    BYTE* AllocFormatBuffer(ULONG length);
    BYTE* ReallocFormatBuffer(ULONG length);
    bool SetFormat(const BYTE* format, ULONG length);
    BYTE* Format() const { return pbFormat; }
    ULONG FormatLength() const { return cbFormat; }
    bool HasMediaType() const { return !IsEqualGUID(majortype, GUID_NULL); }

    // The picture size that shows a width x height picture of pixel aspect num/den.
    static void ScaleToAspect(LONG* x, LONG* y, ULONG width, ULONG height, LONG num, LONG den);

private:
    HRESULT CopyFrom(const AM_MEDIA_TYPE& source);
    BYTE* Resize(ULONG length, bool keep);
};
