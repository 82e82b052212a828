#include "encoded_files.h"

#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sys/file.h>
#include <unistd.h>

#include "common/shell.h"

namespace {
// A tone over pink noise, `seconds` long: sound that every encoder has to work on. The command that makes it.
std::string Wave(const std::string& path, int rate, int channels, double seconds, const char* sampleFormat) {
    const std::string pan = channels == 1 ? "pan=mono|c0=c0"
                            : channels == 2
                                ? "pan=stereo|c0=c0|c1=0.6*c0"
                                : "pan=5.1|c0=c0|c1=0.8*c0|c2=0.6*c0|c3=0.1*c0|c4=0.4*c0|c5=0.3*c0";
    const std::string d = std::to_string(seconds), r = std::to_string(rate);
    return "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i sine=frequency=440:duration=" + d +
           ":sample_rate=" + r + " -f lavfi -i anoisesrc=d=" + d + ":c=pink:r=" + r +
           ":a=0.15:seed=7 -filter_complex '[0][1]amix=inputs=2," + pan + "' -c:a " + sampleFormat + " " +
           Quote(path);
}

bool Made(const std::string& command, const std::string& path, std::string* error) {
    const ShellOutput o = RunShell(command + " 2>&1");
    if (o.status == 0 && access(path.c_str(), R_OK) == 0) return true;
    *error = "could not make " + path + ": " + command + "\n" + o.text;
    return false;
}

struct Recipe {
    EncodedFile file;
    std::string command; // with {} for the output path
};

// The recipes of every file, and in *waves the sound they are made from (each wave's path and command).
std::vector<Recipe> Recipes(const std::string& dir, std::vector<std::pair<std::string, std::string>>* waves) {
    const auto wave = [&](const char* name, int rate, int channels, double seconds, const char* format) {
        const std::string path = dir + "/" + name + ".wav";
        waves->push_back({path, Wave(path, rate, channels, seconds, format)});
        return Quote(path);
    };
    const std::string s44 = wave("s44", 44100, 2, 6, "pcm_s16le"),
                      s48 = wave("s48", 48000, 2, 6, "pcm_s16le");
    const std::string m44 = wave("m44", 44100, 1, 6, "pcm_s16le"),
                      six = wave("six", 48000, 6, 4, "pcm_s16le");
    const std::string m96 = wave("m96", 96000, 1, 3, "pcm_s24le"), n8 = wave("n8", 8000, 1, 12, "pcm_s16le");
    const std::string w16 = wave("w16", 16000, 2, 12, "pcm_s16le");
    const std::string ff = "ffmpeg -nostdin -hide_banner -loglevel error -y ";
    return {
        {{"oggenc", "vorbis", ".ogg", 2}, "oggenc -Q -q 3 -o {} " + s44},
        {{"oggenc-mono", "vorbis", ".oga", 1}, "oggenc -Q -q 1 -o {} " + m44},
        {{"ffmpeg-vorbis", "vorbis", ".ogg", 2}, ff + "-i " + s48 + " -c:a libvorbis -q:a 4 {}"},
        {{"opusenc", "opus", ".opus", 2}, "opusenc --quiet " + s48 + " {}"},
        {{"opusenc-44k-mono", "opus", ".opus", 1}, "opusenc --quiet --bitrate 48 " + m44 + " {}"},
        {{"opusenc-5.1", "opus", ".opus", 6}, "opusenc --quiet " + six + " {}"},
        {{"ffmpeg-opus", "opus", ".opus", 2}, ff + "-i " + s48 + " -c:a libopus -b:a 96k {}"},
        {{"flac", "flac", ".oga", 2}, "flac --ogg -s -f -o {} " + s44},
        {{"flac-24bit-96k", "flac", ".oga", 1}, "flac --ogg -s -f -o {} " + m96},
        {{"speexenc-narrowband", "speex", ".spx", 1}, "speexenc --quiet -n " + n8 + " {}"},
        {{"speexenc-wideband-stereo", "speex", ".spx", 2},
         "speexenc --quiet -w --stereo --nframes 2 " + w16 + " {}"},
        {{"ffmpeg-theora", "theora", ".ogv", 0, 320, 240},
         ff + "-f lavfi -i testsrc2=size=320x240:rate=25:duration=5 -c:v libtheora -q:v 6 -g 12 {}"},
        // A picture that is not a whole number of macroblocks: the frame is larger and the picture is
        // cropped.
        {{"ffmpeg-theora-cropped", "theora", ".ogv", 0, 250, 142},
         ff + "-f lavfi -i testsrc2=size=250x142:rate=30000/1001:duration=4 -c:v libtheora -q:v 5 -g 30 {}"},
        {{"ffmpeg-theora-vorbis", "theora", ".ogv", 2, 176, 144},
         ff + "-f lavfi -i testsrc2=size=176x144:rate=24:duration=5 -i " + s44 +
             " -map 0:v -map 1:a -shortest -c:v libtheora -q:v 4 -g 24 -c:a libvorbis -q:a 2 {}"},
    };
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The files are made once per build folder and kept while their recipes stay the same (every test process of
// the suite would make them again otherwise); a lock keeps processes that run side by side from making them
// together.
std::vector<EncodedFile> MakeAll(std::string* error) {
    const std::string dir = DECODE_FILES_DIR;
    RunShell("mkdir -p " + Quote(dir));
    std::vector<std::pair<std::string, std::string>> waves;
    std::vector<Recipe> recipes = Recipes(dir, &waves);
    std::vector<EncodedFile> files;
    std::string all;
    for (const auto& [path, command] : waves)
        all += command + "\n";
    for (Recipe& r : recipes) {
        r.file.path = dir + "/" + r.file.name + r.file.path; // the extension the recipe gives, after the name
        r.command.replace(r.command.find("{}"), 2, Quote(r.file.path));
        all += r.command + "\n";
        files.push_back(r.file);
    }
    const int lock = open((dir + "/.lock").c_str(), O_CREAT | O_RDWR, 0644);
    if (lock < 0 || flock(lock, LOCK_EX) != 0) {
        *error = "cannot lock " + dir;
        return {};
    }
    const std::string marker = dir + "/recipes.txt";
    bool ok = ReadFile(marker) == all;
    if (!ok) {
        unlink(marker.c_str());
        ok = true;
        for (const auto& [path, command] : waves)
            ok = ok && Made(command, path, error);
        for (const Recipe& r : recipes)
            ok = ok && Made(r.command, r.file.path, error);
        if (ok) std::ofstream(marker, std::ios::binary) << all;
    }
    close(lock);
    return ok ? files : std::vector<EncodedFile>{};
}
} // namespace

const std::vector<EncodedFile>& EncodedFiles(std::string* error) {
    static std::string s_error;
    static const std::vector<EncodedFile> s_files = MakeAll(&s_error);
    if (error) *error = s_error;
    return s_files;
}

const EncodedFile& FileNamed(const std::string& name) {
    for (const EncodedFile& f : EncodedFiles(nullptr))
        if (f.name == name) return f;
    static const EncodedFile none;
    ADD_FAILURE() << "no file " << name;
    return none;
}
