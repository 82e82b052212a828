// oggmux: writes an Ogg file from a description and prints, as JSON, what it wrote.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "muxer.h"

namespace {
const char* kHelp = R"(usage: oggmux [--description FILE | --json TEXT] [--record FILE | --quiet] OUTPUT.ogg
       oggmux --demo OUTPUT.ogg

Writes a deterministic Ogg file (the same description always gives the same bytes) and prints the record
of what it wrote as JSON: per stream its serial, kind and header packets, and per data packet its payload
size, raw size, granule position, the page it ends on (index among the pages written, before damage),
key-frame flag, duration and the CRC-32 (zlib's) of the payload a demuxer delivers (OGM: without the type
byte and the length bytes).

  --description FILE   read the description (JSON) from FILE
  --json TEXT          the description given inline
  --demo               the built-in sample: Theora 320x240 25 fps, Vorbis 44.1 kHz stereo, OGM text, 10 s
  --record FILE        write the record to FILE instead of standard output
  --quiet              print no record

Description: {"seed": N, "streams": [STREAM...], "damage": {...}}
         or {"links": [DESCRIPTION...], "damage": {...}}: a chained file, the links one after the other
  STREAM: {"kind": K, "serial": N, "comments": ["NAME=value", ...], ...}
    kinds and their fields (defaults in brackets):
    vorbis     rate [44100], channels [2], seconds [1], quality [0.1]
    theora     width, height [320x240] (picture), frame_width, frame_height (coded, multiple of 16),
               pic_x, pic_y, fps_num, fps_den [25/1], keyint [25], aspect_num, aspect_den, seconds [1]
    ogm_video  fourcc [XVID], time_unit [400000], samples_per_unit [1], default_length [1],
               buffer_size [65536], bits_per_sample [24], width, height, packets [25],
               packet_size [1000], length_bytes 0..7 [0], packet_duration [1], key_every [1]
    ogm_audio  format_tag [0x55], channels, samples_per_unit [44100], block_align, avg_bytes_per_sec,
               bits_per_sample [16], extra (hex), packets, packet_size [400], packet_duration [1152]
    ogm_text   time_unit [10000], lines: [{"start": units, "duration": units, "text": "..."}]
               (or packets: N generated lines); every line on a page of its own
    directx    media "video" | "audio": an OGM header of type "directx" carrying a DirectShow media
               type and its VIDEOINFOHEADER or WAVEFORMATEX (fields as ogm_video / ogm_audio)
    dshow      media "video" | "audio": the "Direct Show Samples embedded in Ogg" first packet
    unknown    a first packet 0x7F "UNKNOWN", then data packets
    opus       channels [2] (1 or 2), preskip [312], trim (samples the last granule cuts off) [0], seconds;
               packets of 10, 20, 40 and 60 ms by their TOC bytes, random bytes after
    flac       rate, channels, bits [16], extra_headers (padding blocks) [0], seconds; frames of mixed block
               sizes, variable block size coding
    speex      rate, channels, frame_size [320], frames_per_packet [1], extra_headers [0], seconds
    skeleton   a fishead, a fisbone per other stream of the file, an empty last packet (put it first)
    vorbis, theora: noise (compresses badly), repeat_to_seconds (the encoded packets repeated; benchmarks)
    ogm_video: key_size (key frames of this many bytes: they span pages)
    for every kind: count, serial_step (many streams: count copies, serials step apart),
    start (seconds: data granules begin this far in, a granule origin as in a cut or offset file),
    flush_every (a page after every n data packets), page_fill (page body size),
    empty_packet_every, big_packet_every, big_packet_size (packets spanning pages)
  damage: garbage {"every": n, "bytes": m} (m bytes before every n-th page), truncate_at BYTES,
          drop_pages [i...], corrupt_crc_pages [i...], not_ogg BYTES (random bytes, no Ogg at all),
          junk_prefix BYTES (an ID3v2 tag of that size before the first page)
The record also gives "links": where each link begins (one entry for a file that is not chained), and each
stream's "link".
)";

bool ReadFile(const char* path, std::string* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::stringstream ss;
    ss << in.rdbuf();
    *out = ss.str();
    return true;
}
} // namespace

int main(int argc, char** argv) {
    std::string text, recordPath, output, error;
    bool demo = false, quiet = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool hasValue = i + 1 < argc;
        if (a == "--help" || a == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        } else if (a == "--demo") {
            demo = true;
        } else if (a == "--quiet") {
            quiet = true;
        } else if (a == "--json" && hasValue) {
            text = argv[++i];
        } else if (a == "--description" && hasValue) {
            if (!ReadFile(argv[++i], &text)) {
                std::fprintf(stderr, "oggmux: cannot read %s\n", argv[i]);
                return 1;
            }
        } else if (a == "--record" && hasValue) {
            recordPath = argv[++i];
        } else if (!a.empty() && a[0] != '-' && output.empty()) {
            output = a;
        } else {
            std::fprintf(stderr, "oggmux: unexpected argument %s (see --help)\n", a.c_str());
            return 2;
        }
    }
    if (output.empty() || (text.empty() && !demo)) {
        std::fputs("usage: oggmux [--description FILE | --json TEXT | --demo] OUTPUT.ogg (see --help)\n", stderr);
        return 2;
    }
    oggmux::Description d;
    if (demo) d = oggmux::DemoDescription();
    else if (!oggmux::ParseDescription(text, &d, &error)) {
        std::fprintf(stderr, "oggmux: bad description: %s\n", error.c_str());
        return 2;
    }
    oggmux::MuxResult result;
    if (!oggmux::Mux(d, &result, &error)) {
        std::fprintf(stderr, "oggmux: %s\n", error.c_str());
        return 1;
    }
    std::ofstream out(output, std::ios::binary);
    out.write(reinterpret_cast<const char*>(result.file.data()), static_cast<std::streamsize>(result.file.size()));
    if (!out.flush()) {
        std::fprintf(stderr, "oggmux: cannot write %s\n", output.c_str());
        return 1;
    }
    if (quiet) return 0;
    std::string record = oggmux::RecordJson(result) + "\n";
    if (recordPath.empty()) {
        std::fputs(record.c_str(), stdout);
    } else {
        std::ofstream r(recordPath);
        r << record;
    }
    return 0;
}
