// Files of every codec the decode verb knows, made at test time by the tools people make them with (oggenc,
// opusenc, flac, speexenc, ffmpeg) from generated sound and pictures; nothing is committed.
#pragma once
#include <string>
#include <vector>

struct EncodedFile {
    std::string name;  // what the test logs
    std::string codec; // "vorbis", "opus", "flac", "speex", "theora" (a file may hold a second stream)
    std::string path;
    int channels = 0;          // audio
    int width = 0, height = 0; // video: the picture
};

// Makes every file once (into a folder of the test run); empty with *error when a tool fails.
const std::vector<EncodedFile>& EncodedFiles(std::string* error);
// The one of that name (every file is made first).
const EncodedFile& FileNamed(const std::string& name);
