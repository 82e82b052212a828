#include "decoder.h"

#include "oggsource.h"
#include "support/wide_math.h"

namespace decode {

Decoder::~Decoder() {
    if (m_raw) std::fclose(m_raw);
}

bool Decoder::Init(const StreamSetup& setup, Fault fault, std::string* error) {
    m_setup = setup;
    m_fault = fault;
    if (!setup.rawPath.empty() && !(m_raw = std::fopen(setup.rawPath.c_str(), "wb"))) {
        *error = "cannot write " + setup.rawPath;
        return false;
    }
    return Setup(error);
}

bool Decoder::Finish(std::string*) {
    if (m_raw && std::fflush(m_raw) != 0) return false;
    return true;
}

std::vector<uint8_t> Decoder::SetupBytes(size_t at) const {
    std::vector<uint8_t> bytes;
    UINT8* blob = nullptr;
    UINT32 size = 0;
    if (SUCCEEDED(m_setup.type->GetAllocatedBlob(MF_MT_USER_DATA, &blob, &size))) {
        bytes.assign(blob, blob + size);
        CoTaskMemFree(blob);
    } else {
        AM_MEDIA_TYPE* am = nullptr;
        if (SUCCEEDED(m_setup.type->GetRepresentation(AM_MEDIA_TYPE_REPRESENTATION,
                                                      reinterpret_cast<void**>(&am)))) {
            bytes.assign(am->pbFormat, am->pbFormat + am->cbFormat);
            m_setup.type->FreeRepresentation(AM_MEDIA_TYPE_REPRESENTATION, am);
        }
    }
    if (m_fault == Fault::UserData && at < bytes.size()) bytes[at] ^= 0x01;
    return bytes;
}

int64_t Decoder::Position(LONGLONG time, int64_t rate) {
    return ScaleGranule(time, rate, 10000000);
}

void Decoder::TrimAtEnd(int64_t rate) {
    if (m_setup.endTime >= 0)
        m_keepUntil = Position(m_setup.endTime, rate) - (m_fault == Fault::EndTrim ? 1 : 0);
}

void Decoder::Emit(LONGLONG time, int64_t position, const void* data, int64_t count, size_t frameBytes) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    int64_t skip = 0, keep = count;
    if (position < m_keepFrom) skip = m_keepFrom - position < count ? m_keepFrom - position : count;
    if (position + count > m_keepUntil) keep = m_keepUntil > position ? m_keepUntil - position : 0;
    Unit u;
    u.time = time;
    u.position = position + skip;
    u.count = keep > skip ? keep - skip : 0;
    const size_t offset = static_cast<size_t>(skip) * frameBytes,
                 length = static_cast<size_t>(u.count) * frameBytes;
    u.md5 = Md5Hex(bytes + offset, length);
    m_units.push_back(u);
    if (u.count == 0) return;
    if (!m_any) m_first = u.position;
    m_any = true;
    m_count += u.count;
    m_digest.Add(bytes + offset, length);
    if (m_raw) std::fwrite(bytes + offset, 1, length, m_raw);
}

std::unique_ptr<Decoder> MakeDecoder(REFGUID subtype) {
    if (IsEqualGUID(subtype, MEDIASUBTYPE_OggVorbis)) return MakeVorbisDecoder();
    if (IsEqualGUID(subtype, MEDIASUBTYPE_OggTheora)) return MakeTheoraDecoder();
    if (IsEqualGUID(subtype, MEDIASUBTYPE_OggOpus)) return MakeOpusDecoder();
    if (IsEqualGUID(subtype, MEDIASUBTYPE_OggFLAC)) return MakeFlacDecoder();
    if (IsEqualGUID(subtype, MEDIASUBTYPE_OggSpeex)) return MakeSpeexDecoder();
    return nullptr;
}

} // namespace decode
