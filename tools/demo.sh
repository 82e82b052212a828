#!/usr/bin/env bash
# The demo: writes the built-in sample with oggmux (once), then shows what the build can do with it.
set -euo pipefail
BUILD=${1:-build}
SAMPLE="$BUILD/samples/demo.ogg"
if [ ! -s "$SAMPLE" ]; then
    mkdir -p "$(dirname "$SAMPLE")"
    "$BUILD/tools/oggmux/oggmux" --demo --quiet "$SAMPLE"
    echo "demo: wrote the built-in sample $SAMPLE (Theora 320x240, Vorbis, OGM text; 10 s)"
fi
echo "demo: the sample as ffprobe sees it:"
ffprobe -v error -show_entries stream=index,codec_type,codec_name,duration -of compact "$SAMPLE" | sed 's/^/  /'
if [ -x "$BUILD/tools/oggsource/oggsource" ]; then
    "$BUILD/tools/oggsource/oggsource" probe "$SAMPLE"
else
    echo "demo: the oggsource host is not built yet; the platform and support suites:"
    "$BUILD/tests/platform_tests" --gtest_brief=1 | tail -n 1
    "$BUILD/tests/support_tests" --gtest_brief=1 | tail -n 1
fi
