#!/usr/bin/env bash
# build_xiph.sh PREFIX [HOST]: builds static libogg, libvorbis, libtheora and libopus for HOST (x86_64-w64-mingw32,
# or i686-w64-mingw32 for the 32-bit build) from Debian's own source packages into PREFIX (include/, lib/,
# lib/pkgconfig/). Done once: a PREFIX that already holds all four is left as it is.
set -euo pipefail
PREFIX=$1
HOST=${2:-x86_64-w64-mingw32}
if [ -f "$PREFIX/lib/libogg.a" ] && [ -f "$PREFIX/lib/libvorbis.a" ] && [ -f "$PREFIX/lib/libtheora.a" ] \
    && [ -f "$PREFIX/lib/libopus.a" ]; then
    exit 0
fi
mkdir -p "$PREFIX"
SRC=$(mktemp -d)
trap 'rm -rf "$SRC"' EXIT
cd "$SRC"
LOG="$SRC/build.log"
# quiet COMMAND...: runs it into the log; on failure shows the end of the log and stops.
quiet() { "$@" >>"$LOG" 2>&1 || { tail -n 50 "$LOG"; echo "build_xiph: failed: $*" >&2; exit 1; }; }
# The source packages come from the bookworm archive; a deb-src entry is added when none exists.
if ! apt-get source --download-only -qq libogg >/dev/null 2>&1; then
    cat >/etc/apt/sources.list.d/oggsource-src.sources <<'SOURCES'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    apt-get update -qq
fi
quiet apt-get source -qq libogg libvorbis libtheora opus
export PKG_CONFIG_PATH="$PREFIX/lib/pkgconfig" PKG_CONFIG_LIBDIR="$PREFIX/lib/pkgconfig"
common=(--host=$HOST --prefix="$PREFIX" --disable-shared --enable-static)
JOBS=$(nproc 2>/dev/null || echo 2)
cd "$SRC"/libogg-*/
quiet ./configure "${common[@]}"
quiet make -j"$JOBS"
quiet make install
cd "$SRC"/libvorbis-*/
quiet ./configure "${common[@]}" --with-ogg="$PREFIX"
quiet make -j"$JOBS" -C lib
quiet make -C lib install
quiet make -C include install
quiet make install-pkgconfigDATA
# libtheora's documentation and examples do not build for this host; only the library is needed.
cd "$SRC"/libtheora-*/
quiet ./configure "${common[@]}" --with-ogg="$PREFIX" --with-vorbis="$PREFIX" --disable-examples \
    --disable-oggtest --disable-vorbistest --disable-sdltest --disable-spec
quiet make -j"$JOBS" -C lib
quiet make -C lib install
quiet make -C include install
quiet make install-pkgconfigDATA
# libopus: only the library, its headers and its pkg-config file; without the fortified string functions and
# the stack protector, whose run-time (libssp) the module does not link.
cd "$SRC"/opus-*/
quiet ./configure "${common[@]}" --disable-doc --disable-extra-programs --disable-stack-protector \
    CFLAGS="-O2 -D_FORTIFY_SOURCE=0"
quiet make -j"$JOBS"
quiet make install
echo "build_xiph: static Xiph libraries for $HOST in $PREFIX"
