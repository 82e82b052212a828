#!/usr/bin/env bash
# build_xiph.sh PREFIX: builds static libogg, libvorbis and libtheora for x86_64-w64-mingw32 from
# Debian's own source packages into PREFIX (include/, lib/, lib/pkgconfig/). Done once: a PREFIX that
# already holds all three is left as it is.
set -euo pipefail
PREFIX=$1
HOST=x86_64-w64-mingw32
if [ -f "$PREFIX/lib/libogg.a" ] && [ -f "$PREFIX/lib/libvorbis.a" ] && [ -f "$PREFIX/lib/libtheora.a" ]; then
    exit 0
fi
mkdir -p "$PREFIX"
SRC=$(mktemp -d)
trap 'rm -rf "$SRC"' EXIT
cd "$SRC"
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
apt-get source -qq libogg libvorbis libtheora >/dev/null 2>&1
export PKG_CONFIG_PATH="$PREFIX/lib/pkgconfig" PKG_CONFIG_LIBDIR="$PREFIX/lib/pkgconfig"
common=(--host=$HOST --prefix="$PREFIX" --disable-shared --enable-static)
JOBS=$(nproc 2>/dev/null || echo 2)
(cd libogg-*/ && ./configure "${common[@]}" >/dev/null && make -s -j"$JOBS" >/dev/null && make -s install >/dev/null)
(cd libvorbis-*/ && ./configure "${common[@]}" --with-ogg="$PREFIX" >/dev/null &&
    make -s -j"$JOBS" -C lib >/dev/null && make -s -C lib install >/dev/null &&
    make -s -C include install >/dev/null && make -s install-pkgconfigDATA >/dev/null)
# libtheora's documentation and examples do not build for this host; only the library is needed.
(cd libtheora-*/ && ./configure "${common[@]}" --with-ogg="$PREFIX" --with-vorbis="$PREFIX" --disable-examples \
    --disable-oggtest --disable-vorbistest --disable-sdltest --disable-spec >/dev/null &&
    make -s -j"$JOBS" -C lib >/dev/null && make -s -C lib install >/dev/null &&
    make -s -C include install >/dev/null && make -s install-pkgconfigDATA >/dev/null)
echo "build_xiph: static Xiph libraries for $HOST in $PREFIX"
