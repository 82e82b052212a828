// oggsource decode: one decoder per codec, fed only what the source hands out (the stream's media type and
// its samples), never the file. Each keeps the digest and the count of its output, where that output begins
// on the presentation's timeline, and per packet (audio) or frame (video) its time and digest.
#pragma once
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "host.h"
#include "md5.h"

namespace decode {

// What the decoder of a stream is given besides its samples.
struct StreamSetup {
    DWORD id = 0;
    IMFMediaType* type = nullptr; // the stream's current type, as the source announced it
    LONGLONG startTime = -1; // MF_SD_OGG_START_TIME (100 ns, on the timeline); -1 when the source gives none
    LONGLONG endTime = -1;   // MF_SD_OGG_END_TIME; -1 when the source gives none
    bool fromStart = true;   // the play begins at the stream's start (no --start): the start trim applies
    std::string rawPath;     // where the output's bytes go as well ("" for nowhere)
};

// One packet's (audio) or frame's (video) share of the output.
struct Unit {
    LONGLONG time = 0;    // the sample's time
    int64_t position = 0; // where its output begins: samples (audio) or frames (video) on the timeline
    int64_t count = 0;    // samples per channel, or 1 frame
    std::string md5;      // of its bytes of the output (after the trims)
};

// Test aids: what the source is made to hand out wrongly, to show that the comparison catches it.
enum class Fault { None, UserData, Drop, Double, NoHeaders, PreSkip, EndTrim };

class Decoder {
public:
    virtual ~Decoder();
    virtual const char* Codec() const = 0;
    // The output's format, stated: sample type, layout, channels and rate, or the picture's planes and size.
    virtual std::string Format() const = 0;
    virtual const char* UnitName() const = 0; // "samples" (per channel) or "frames"
    // Reads the codec's setup from the type; false (with *error) when it cannot decode from it.
    bool Init(const StreamSetup& setup, Fault fault, std::string* error);
    virtual bool Decode(const host::Sample& sample, std::string* error) = 0;
    virtual bool Finish(std::string* error);

    int64_t Count() const { return m_count; }
    bool Any() const { return m_any; }        // whether anything was output
    int64_t First() const { return m_first; } // the position of the first output
    std::string Digest() { return m_digest.Hex(); }
    const std::vector<Unit>& Units() const { return m_units; }

protected:
    virtual bool Setup(std::string* error) = 0;
    // The bytes of the type that set the decoder up: MF_MT_USER_DATA, else (where the platform keeps it
    // apart) the DirectShow format block; with the UserData fault, one byte of `at` changed.
    std::vector<uint8_t> SetupBytes(size_t at) const;
    // A time (100 ns) as a position counted in units of `rate` per second, rounded to the nearest.
    static int64_t Position(LONGLONG time, int64_t rate);
    // Trims the output at the stream's end time (a sample short with the EndTrim fault); nothing without one.
    void TrimAtEnd(int64_t rate);
    // Output of `count` units (samples per channel of `frameBytes` each, or frames) beginning at `position`;
    // the ones outside [m_keepFrom, m_keepUntil) are trimmed off.
    void Emit(LONGLONG time, int64_t position, const void* data, int64_t count, size_t frameBytes);

    StreamSetup m_setup;
    Fault m_fault = Fault::None;
    int64_t m_keepFrom = INT64_MIN, m_keepUntil = INT64_MAX;

private:
    Md5 m_digest;
    int64_t m_count = 0, m_first = 0;
    bool m_any = false;
    std::vector<Unit> m_units;
    std::FILE* m_raw = nullptr;
};

std::unique_ptr<Decoder> MakeVorbisDecoder();
std::unique_ptr<Decoder> MakeTheoraDecoder();
std::unique_ptr<Decoder> MakeOpusDecoder();
std::unique_ptr<Decoder> MakeFlacDecoder();
std::unique_ptr<Decoder> MakeSpeexDecoder();
// The decoder for a subtype; null for one this verb does not decode.
std::unique_ptr<Decoder> MakeDecoder(REFGUID subtype);

} // namespace decode
