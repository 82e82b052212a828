#!/usr/bin/env bash
# The demo: writes the built-in sample with oggmux (once), then opens and plays it through the source.
set -euo pipefail
BUILD=${1:-build}
SAMPLE="$BUILD/samples/demo.ogg"
if [ ! -s "$SAMPLE" ]; then
    mkdir -p "$(dirname "$SAMPLE")"
    "$BUILD/tools/oggmux/oggmux" --demo --quiet "$SAMPLE"
    echo "demo: wrote the built-in sample $SAMPLE (Theora 320x240, Vorbis, OGM text; 10 s)"
fi
OGGSOURCE="$BUILD/tools/oggsource/oggsource"
# The module is registered into the build folder's own registry ($OGGSOURCE_REGISTRY, set by ./run), so
# the demo never touches the user's settings; the host then finds it through the source resolver.
echo "== oggsource register (registry: ${OGGSOURCE_REGISTRY:-default})"
"$OGGSOURCE" register
echo "== oggsource probe $SAMPLE"
"$OGGSOURCE" probe "$SAMPLE"
echo "== oggsource play --summary $SAMPLE"
"$OGGSOURCE" play --summary "$SAMPLE"
echo "== oggsource play --stream 1003 $SAMPLE (the subtitle stream alone)"
"$OGGSOURCE" play --stream 1003 "$SAMPLE"
echo "== oggsource play --start 4 $SAMPLE (first samples after a seek to 4 s)"
"$OGGSOURCE" play --start 4 "$SAMPLE" | sed -n 1,8p # sed reads on: the host never writes into a closed pipe
