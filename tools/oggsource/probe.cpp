#include "probe.h"

#include <cstdio>
#include <cstring>
#include <map>

#include "oggsource.h" // the public header: what any host of the module would include

namespace host {

std::string GuidText(REFGUID g) {
    WCHAR w[39];
    StringFromGUID2(g, w, 39);
    return std::string(w, w + 38);
}

std::string Utf8(const WCHAR* w) {
    std::string out;
    for (; w && *w; ++w) {
        uint32_t c = static_cast<uint32_t>(*w);
        if (sizeof(WCHAR) == 2 && c >= 0xD800 && c < 0xDC00 && w[1] >= 0xDC00 && w[1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(*++w) - 0xDC00);
        else if (c >= 0xD800 && c < 0xE000)
            c = 0xFFFD;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

namespace {
const char* CodecName(UINT32 codec) {
    switch (codec) {
    case 0:
        return "vorbis";
    case 1:
        return "ogm";
    case 2:
        return "theora";
    case 3:
        return "opus";
    case 4:
        return "flac";
    case 5:
        return "speex";
    case 6:
        return "skeleton";
    case 7:
        return "kate";
    default:
        return "unknown";
    }
}

nlohmann::json MajorName(REFGUID major) {
    if (IsEqualGUID(major, MEDIATYPE_Audio)) return "audio";
    if (IsEqualGUID(major, MEDIATYPE_Video)) return "video";
    if (IsEqualGUID(major, MEDIATYPE_Text)) return "text";
    return nullptr;
}

std::string FourccText(uint32_t f) {
    std::string s;
    for (int i = 0; i < 4; ++i) {
        char c = static_cast<char>(f >> (8 * i));
        s += (c >= 32 && c < 127) ? c : '?';
    }
    return s;
}

uint32_t U32(const BYTE* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint16_t U16(const BYTE* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

void VorbisDetails(const BYTE* b, nlohmann::json* s) {
    (*s)["channels"] = U16(b);
    (*s)["sample_rate"] = U32(b + 4);
    (*s)["bitrate_lower"] = static_cast<int32_t>(U32(b + 8));
    (*s)["bitrate_nominal"] = static_cast<int32_t>(U32(b + 12));
    (*s)["bitrate_upper"] = static_cast<int32_t>(U32(b + 16));
}

// Where the platform gives no DirectShow form back (Wine's media types do not): the Media Foundation
// attributes, and the Vorbis block, which the module's own conversion keeps whole as the user data.
void AttributeDetails(IMFMediaType* type, nlohmann::json* s) {
    GUID format = GUID_NULL;
    type->GetGUID(MF_MT_AM_FORMAT_TYPE, &format);
    UINT32 v = 0;
    UINT64 pair = 0;
    BYTE block[24];
    if (IsEqualGUID(format, FORMAT_OggVorbis) &&
        SUCCEEDED(type->GetBlob(MF_MT_USER_DATA, block, sizeof block, &v)) && v == sizeof block) {
        VorbisDetails(block, s);
        return;
    }
    if (SUCCEEDED(type->GetUINT32(MF_MT_AUDIO_NUM_CHANNELS, &v))) (*s)["channels"] = v;
    if (SUCCEEDED(type->GetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, &v))) (*s)["sample_rate"] = v;
    if (SUCCEEDED(type->GetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, &v))) (*s)["avg_bytes_per_sec"] = v;
    if (SUCCEEDED(type->GetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, &v))) (*s)["block_align"] = v;
    if (SUCCEEDED(type->GetUINT64(MF_MT_FRAME_SIZE, &pair))) {
        (*s)["width"] = static_cast<int32_t>(pair >> 32);
        (*s)["height"] = static_cast<int32_t>(pair & 0xFFFFFFFF);
    }
    if (SUCCEEDED(type->GetUINT64(MF_MT_FRAME_RATE, &pair)) && (pair >> 32))
        (*s)["avg_time_per_frame"] = ((pair & 0xFFFFFFFF) * 10000000 + (pair >> 33)) / (pair >> 32);
}

// The kind's details, read from the DirectShow form of the media type (the format block as announced).
void Details(IMFMediaType* type, const GUID& major, nlohmann::json* s) {
    AM_MEDIA_TYPE* am = nullptr;
    if (FAILED(type->GetRepresentation(AM_MEDIA_TYPE_REPRESENTATION, reinterpret_cast<void**>(&am)))) {
        AttributeDetails(type, s);
        return;
    }
    const BYTE* b = am->pbFormat;
    const ULONG n = am->cbFormat;
    if (IsEqualGUID(am->formattype, FORMAT_OggVorbis) && n >= 24) {
        VorbisDetails(b, s);
    } else if (IsEqualGUID(am->formattype, FORMAT_WaveFormatEx) && n >= 18) {
        (*s)["format_tag"] = U16(b);
        (*s)["channels"] = U16(b + 2);
        (*s)["sample_rate"] = U32(b + 4);
        (*s)["avg_bytes_per_sec"] = U32(b + 8);
        (*s)["block_align"] = U16(b + 12);
        (*s)["bits_per_sample"] = U16(b + 14);
    } else if ((IsEqualGUID(am->formattype, FORMAT_VideoInfo) && n >= 88) ||
               (IsEqualGUID(am->formattype, FORMAT_VideoInfo2) && n >= 112)) {
        const bool v2 = IsEqualGUID(am->formattype, FORMAT_VideoInfo2);
        const BYTE* bmi = b + (v2 ? 72 : 48);
        (*s)["width"] = static_cast<int32_t>(U32(bmi + 4));
        (*s)["height"] = static_cast<int32_t>(U32(bmi + 8));
        (*s)["avg_time_per_frame"] = U32(b + 40) | static_cast<uint64_t>(U32(b + 44)) << 32;
        (*s)["fourcc"] = FourccText(U32(bmi + 16));
        if (v2)
            (*s)["picture_aspect"] = {U32(b + 56), U32(b + 60)};
        else
            (*s)["picture_aspect"] = {U32(bmi + 4), U32(bmi + 8)};
    }
    (void)major;
    type->FreeRepresentation(AM_MEDIA_TYPE_REPRESENTATION, am);
}

// A string attribute as UTF-8; null when it is not there.
nlohmann::json TextAttribute(IMFAttributes* a, REFGUID key) {
    WCHAR* text = nullptr;
    UINT32 length = 0;
    if (FAILED(a->GetAllocatedString(key, &text, &length))) return nullptr;
    std::string s = Utf8(text);
    CoTaskMemFree(text);
    return s;
}

// A property store value as JSON: text, a list of texts, a number, the byte count of a stream; null
// otherwise.
nlohmann::json PropertyValue(IPropertyStore* store, REFPROPERTYKEY key) {
    PROPVARIANT v;
    PropVariantInit(&v);
    if (FAILED(store->GetValue(key, &v))) return nullptr;
    nlohmann::json j;
    if (v.vt == VT_LPWSTR) j = Utf8(v.pwszVal);
    if (v.vt == (VT_VECTOR | VT_LPWSTR)) {
        j = nlohmann::json::array();
        for (ULONG i = 0; i < v.calpwstr.cElems; ++i)
            j.push_back(Utf8(v.calpwstr.pElems[i]));
    }
    if (v.vt == VT_UI4) j = v.ulVal;
    if (v.vt == VT_UI8) j = static_cast<uint64_t>(v.uhVal.QuadPart);
    if (v.vt == VT_STREAM && v.pStream) {
        STATSTG st = {};
        if (SUCCEEDED(v.pStream->Stat(&st, STATFLAG_NONAME))) j = static_cast<uint64_t>(st.cbSize.QuadPart);
    }
    PropVariantClear(&v);
    return j;
}

// The presentation's tags, as the source's property store gives them (null: it gives none).
nlohmann::json Tags(IMFMediaSource* source) {
    PlatRef<IPropertyStore> store;
    if (FAILED(MFGetService(source, MF_PROPERTY_HANDLER_SERVICE, IID_IPropertyStore,
                            reinterpret_cast<void**>(&store))))
        return nullptr;
    return StoreTags(store.Get());
}

nlohmann::json Stream(IMFStreamDescriptor* sd, BOOL selected) {
    nlohmann::json s;
    DWORD id = 0;
    sd->GetStreamIdentifier(&id);
    s["id"] = id;
    s["selected"] = selected != FALSE;
    UINT32 codec = 255;
    sd->GetUINT32(MF_SD_OGG_CODEC, &codec);
    s["codec"] = CodecName(codec);
    WCHAR ogmType[16] = {};
    UINT32 len = 0;
    if (SUCCEEDED(sd->GetString(MF_SD_OGM_TYPE, ogmType, 16, &len)))
        s["ogm_type"] = std::string(ogmType, ogmType + len);
    else
        s["ogm_type"] = nullptr;
    UINT64 t = 0;
    s["start"] = SUCCEEDED(sd->GetUINT64(MF_SD_OGG_START_TIME, &t)) ? nlohmann::json(static_cast<int64_t>(t))
                                                                    : nullptr;
    s["end"] =
        SUCCEEDED(sd->GetUINT64(MF_SD_OGG_END_TIME, &t)) ? nlohmann::json(static_cast<int64_t>(t)) : nullptr;
    s["language"] = TextAttribute(sd, MF_SD_LANGUAGE);
    s["name"] = TextAttribute(sd, MF_SD_STREAM_NAME);
    PlatRef<IMFMediaTypeHandler> handler;
    PlatRef<IMFMediaType> type;
    GUID major = GUID_NULL, sub = GUID_NULL, format = GUID_NULL;
    if (SUCCEEDED(sd->GetMediaTypeHandler(&handler)) && SUCCEEDED(handler->GetCurrentMediaType(&type))) {
        type->GetGUID(MF_MT_MAJOR_TYPE, &major);
        type->GetGUID(MF_MT_SUBTYPE, &sub);
        type->GetGUID(MF_MT_AM_FORMAT_TYPE, &format);
        s["major"] = MajorName(major);
        s["subtype"] = GuidText(sub);
        s["format_type"] = GuidText(format);
        Details(type.Get(), major, &s);
        DWORD count = 0;
        handler->GetMediaTypeCount(&count);
        s["media_types"] = count;
    }
    return s;
}

// A chained file's links (MF_PD_OGG_LINKS): where each begins, when, how long, and its streams; absent for a
// file of one link.
void Links(IMFPresentationDescriptor* pd, nlohmann::json* out) {
    UINT8* blob = nullptr;
    UINT32 size = 0;
    if (FAILED(pd->GetAllocatedBlob(MF_PD_OGG_LINKS, &blob, &size))) return;
    std::vector<int64_t> v(size / sizeof(int64_t));
    std::memcpy(v.data(), blob, v.size() * sizeof(int64_t));
    CoTaskMemFree(blob);
    size_t i = 0;
    auto next = [&] { return i < v.size() ? v[i++] : 0; };
    nlohmann::json links = nlohmann::json::array();
    for (int64_t k = 0, n = next(); k < n && i < v.size(); ++k) {
        nlohmann::json l;
        l["offset"] = next();
        l["start"] = next();
        l["duration"] = next();
        l["streams"] = nlohmann::json::array();
        for (int64_t j = 0, m = next(); j < m && i < v.size(); ++j) {
            nlohmann::json s;
            s["serial"] = next();
            s["codec"] = CodecName(static_cast<UINT32>(next()));
            s["played"] = next() != 0;
            l["streams"].push_back(s);
        }
        links.push_back(l);
    }
    (*out)["links"] = links;
}
} // namespace

nlohmann::json StoreTags(IPropertyStore* store) {
    struct Key {
        const char* name;
        const PROPERTYKEY* key;
    };
    static const Key keys[] = {{"title", &PKEY_Title},
                               {"artist", &PKEY_Music_Artist},
                               {"album", &PKEY_Music_AlbumTitle},
                               {"album_artist", &PKEY_Music_AlbumArtist},
                               {"genre", &PKEY_Music_Genre},
                               {"composer", &PKEY_Music_Composer},
                               {"comment", &PKEY_Comment},
                               {"track", &PKEY_Music_TrackNumber},
                               {"year", &PKEY_Media_Year},
                               {"cover_bytes", &PKEY_ThumbnailStream}};
    nlohmann::json j = nlohmann::json::object();
    for (const Key& k : keys) {
        nlohmann::json v = PropertyValue(store, *k.key);
        if (!v.is_null()) j[k.name] = v;
    }
    return j;
}

nlohmann::json DescribeByteStream(IMFByteStream* stream) {
    nlohmann::json j;
    DWORD caps = 0;
    QWORD length = 0, at = 0;
    j["capabilities"] = SUCCEEDED(stream->GetCapabilities(&caps)) ? nlohmann::json(caps) : nullptr;
    j["length"] =
        SUCCEEDED(stream->GetLength(&length)) && length != ~QWORD(0) ? nlohmann::json(length) : nullptr;
    if (FAILED(stream->GetCurrentPosition(&at))) return j;
    j["seek_ahead"] = HResultText(stream->SetCurrentPosition(at + 1));
    j["seek_here"] = HResultText(stream->SetCurrentPosition(at));
    return j;
}

void DescribeLinkTags(IMFMediaSource* source, nlohmann::json* out) {
    if (!out->contains("links") || (*out)["links"].empty()) return;
    nlohmann::json& links = (*out)["links"];
    links[0]["tags"] = (*out)["tags"]; // before a start the store answers for the first link
    // Each later link's tags come with its announcement (its own store of them): the source's store answers for
    // the link production entered last, which may be the next one by the time a host reads it. A start in a link
    // announces it unless it was the one announced last (production of the run before entered it).
    std::map<int, nlohmann::json> told;
    Player player(source);
    for (size_t k = 1; k < links.size(); ++k) {
        const int link = static_cast<int>(k);
        if (!told.count(link)) {
            PlayOptions o;
            o.startAt = true;
            o.start = links[k]["start"].get<int64_t>();
            o.timeoutMs = 10000;
            o.onLinkTold = [&](int named, IPropertyStore* tags) {
                if (named >= 0 && tags) told[named] = StoreTags(tags);
            };
            o.until = [&] { return told.count(link) > 0; };
            player.Play(o);
        }
        links[k]["tags"] = told.count(link) ? told[link] : nlohmann::json(nullptr);
    }
    source->Stop();
}

void TypeDetails(IMFMediaType* type, nlohmann::json* out) {
    GUID major = GUID_NULL;
    type->GetGUID(MF_MT_MAJOR_TYPE, &major);
    Details(type, major, out);
}

HRESULT Describe(IMFMediaSource* source, nlohmann::json* out) {
    PlatRef<IMFPresentationDescriptor> pd;
    HRESULT hr = source->CreatePresentationDescriptor(&pd);
    if (FAILED(hr)) return hr;
    UINT64 duration = 0, origin = 0;
    // null: the source states none (the end is not known)
    (*out)["duration"] = SUCCEEDED(pd->GetUINT64(MF_PD_DURATION, &duration))
                             ? nlohmann::json(static_cast<int64_t>(duration))
                             : nullptr;
    (*out)["origin"] = SUCCEEDED(pd->GetUINT64(MF_PD_OGG_ORIGIN, &origin))
                           ? nlohmann::json(static_cast<int64_t>(origin))
                           : nullptr;
    DWORD characteristics = 0;
    hr = source->GetCharacteristics(&characteristics);
    if (FAILED(hr)) return hr;
    (*out)["characteristics"] = characteristics; // MFMEDIASOURCE_*: live 1, can seek 2, can pause 4
    Links(pd.Get(), out);
    (*out)["tags"] = Tags(source);
    (*out)["mime_type"] = TextAttribute(pd.Get(), MF_PD_MIME_TYPE);
    (*out)["streams"] = nlohmann::json::array();
    DWORD count = 0;
    pd->GetStreamDescriptorCount(&count);
    for (DWORD i = 0; i < count; ++i) {
        BOOL selected = FALSE;
        PlatRef<IMFStreamDescriptor> sd;
        hr = pd->GetStreamDescriptorByIndex(i, &selected, &sd);
        if (FAILED(hr)) return hr;
        (*out)["streams"].push_back(Stream(sd.Get(), selected));
    }
    return S_OK;
}

} // namespace host
