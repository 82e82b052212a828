#!/usr/bin/env bash
# Benchmarks: open, play and seek costs of the source next to ffprobe / ffmpeg / GStreamer on the same files, in
# one run; host-call latency while a read is stalled; a live stream (a real Icecast server) played for minutes.
# Files are written by oggmux, ffmpeg and oggenc into BUILD/bench once (they are large and never committed).
# oggbench is not part of the build's default target (the test runs need not compile it): it is built here.
#   OGGSOURCE_BENCH_SECTIONS      the sections to run, in this order (default every one): open seek play futex
#                                 latency rate live
#   OGGSOURCE_BENCH_LIVE_MINUTES  how many minutes the live stream plays (default 3)
#   OGGSOURCE_BENCH_LIVE_SECONDS  the same in seconds, for a short trial (overrides the minutes)
set -euo pipefail
BUILD=${1:-build}
SECTIONS=${OGGSOURCE_BENCH_SECTIONS:-open seek play futex latency rate live}
LIVE_SECONDS=${OGGSOURCE_BENCH_LIVE_SECONDS:-$((${OGGSOURCE_BENCH_LIVE_MINUTES:-3} * 60))}
DIR="$BUILD/bench"
ROOT_DIR=$(cd "$(dirname "$0")/.." && pwd)
OGGMUX="$BUILD/tools/oggmux/oggmux"
OGGSOURCE="$BUILD/tools/oggsource/oggsource"
OGGBENCH="$BUILD/bench/oggbench"
T0=$SECONDS
built=$(nice cmake --build "$BUILD" --target oggbench -j 2 2>&1) || { echo "$built"; exit 1; }
mkdir -p "$DIR"
"$OGGSOURCE" register >/dev/null
# shellcheck source-path=SCRIPTDIR source=live_server.sh
. "$(dirname "$0")/live_server.sh"
trap icecast_stop EXIT

make_file() { # NAME JSON
    [ -s "$DIR/$1" ] || { echo "bench: writing $1" >&2; "$OGGMUX" --quiet --json "$2" "$DIR/$1"; }
}
make_file av720.ogg '{"seed":1,"streams":[{"kind":"theora","serial":1,"width":1280,"height":720,"seconds":2,"keyint":25,
  "noise":true,"repeat_to_seconds":16},{"kind":"vorbis","serial":2,"seconds":8,"quality":0.4,"repeat_to_seconds":16}]}'
make_file vorbis.ogg '{"seed":2,"streams":[{"kind":"vorbis","serial":1,"seconds":20,"quality":1.0,"noise":true,"repeat_to_seconds":1400}]}'
for size in 10 100 400; do
    make_file "ogm$size.ogg" "{\"seed\":3,\"streams\":[{\"kind\":\"ogm_video\",\"serial\":1,\"packets\":$((size * 25)),
      \"packet_size\":40000,\"key_every\":25},{\"kind\":\"vorbis\",\"serial\":2,\"seconds\":30,\"repeat_to_seconds\":$((size * 25 / 25))}]}"
done

timed() { # prints "SECONDS PEAK_KB" of a command, its output thrown away
    /usr/bin/time -f "%e %M" -o "$DIR/time.txt" "$@" >/dev/null 2>&1 || true
    cat "$DIR/time.txt"
}
mb() { echo "scale=1; $(stat -c %s "$1") / 1048576" | bc; }
packets() { ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$1" | paste -sd+ | bc; }
# The seek and play files: Theora 640x360 (noise) and Vorbis by ffmpeg, 300 s (about 410 MB), and cuts of it and
# a loop of it for about 10 MB, 100 MB and 1 GB; two hours of Vorbis q10.
make_ffmpeg() { # NAME ARGS...
    local name=$1; shift
    [ -s "$DIR/$name" ] || { echo "bench: writing $name" >&2; ffmpeg -v error -y "$@" -fflags +bitexact "$DIR/$name.tmp.ogg" && mv "$DIR/$name.tmp.ogg" "$DIR/$name"; }
}

section_open() {
    echo "## Open (one open; ffprobe -show_streams on the same file)"
    echo "| file | MB | reads | bytes read | open ms | ffprobe s |"
    echo "|---|---|---|---|---|---|"
    local f line reads bytes ms fp
    for f in av720.ogg vorbis.ogg; do
        line=$("$OGGBENCH" open "$DIR/$f" 5)
        reads=$(echo "$line" | sed -E 's/.*: ([0-9]+) reads.*/\1/'); bytes=$(echo "$line" | sed -E 's/.* ([0-9]+) bytes.*/\1/')
        ms=$(echo "$line" | sed -E 's/.*median ([0-9.]+) ms/\1/')
        fp=$(timed ffprobe -v error -show_streams "$DIR/$f" | cut -d' ' -f1)
        echo "| $f | $(mb "$DIR/$f") | $reads | $bytes | $ms | $fp |"
    done
}

make_seek_files() {
    make_ffmpeg seek410.ogg -f lavfi -i "testsrc2=size=640x360:rate=25,noise=alls=12:allf=t" -f lavfi -i "sine=f=440:sample_rate=48000" \
        -t 300 -map 0:v -map 1:a -c:v libtheora -q:v 8 -g 64 -c:a libvorbis -q:a 6
    make_ffmpeg seek10.ogg -i "$DIR/seek410.ogg" -t 7.5 -c copy
    make_ffmpeg seek100.ogg -i "$DIR/seek410.ogg" -t 75 -c copy
    make_ffmpeg seek1000.ogg -stream_loop 2 -i "$DIR/seek410.ogg" -t 750 -c copy
}

row() { # "what FILE: N seeks, median A ms, worst B ms, C bytes/seek, D reads/seek" -> "A / B | C / D"
    sed -E 's/.*median ([0-9.]+) ms, worst ([0-9.]+) ms, ([0-9]+) bytes\/seek, ([0-9.]+) reads\/seek/\1 \/ \2 | \3 \/ \4/'
}
middle() { # of three "... median A ms ..." lines, the one with the middle A
    awk '{ for (i = 1; i < NF; i++) if ($i == "median") { print $(i + 1), $0; break } }' | sort -n | sed -n 2p | cut -d' ' -f2-
}
section_seek() {
    make_seek_files
    echo "## Seek (100 random targets from the stopped state, seed 1; GStreamer: 50 flushing key-unit seeks in one process;"
    echo "each row: the run with the middle median of three, the file read once before so that no run reads it from disk)"
    echo "ours, search: Start with a position until MESourceSeeked. ours, preroll: until the first data sample of every"
    echo "stream. GStreamer: seek_simple(FLUSH|KEY_UNIT) until ASYNC_DONE (filesrc ! oggdemux ! queue ! fakesink per stream)."
    echo "| file | MB | search median / worst ms | search bytes / reads | preroll median / worst ms | preroll bytes / reads | GStreamer median / worst ms | GStreamer bytes / reads |"
    echo "|---|---|---|---|---|---|---|---|"
    local f out gst
    for f in seek10.ogg seek100.ogg seek410.ogg seek1000.ogg ogm100.ogg ogm400.ogg; do
        cat "$DIR/$f" >/dev/null
        out="" gst=""
        for _ in 1 2 3; do
            out+="$("$OGGBENCH" seek "$DIR/$f" 100 1)"$'\n'
            gst+="$(/usr/bin/python3 "$(dirname "$0")/gst_seek.py" "$DIR/$f" 50 1 2>/dev/null)"$'\n' || true
        done
        gst=$(echo "$gst" | grep '^seek' | middle | row || true) # GStreamer's oggdemux prerolls no OGM file
        [ -n "$gst" ] || gst="n/a | n/a"
        echo "| $f | $(mb "$DIR/$f") | $(echo "$out" | grep '^search' | middle | row) | $(echo "$out" | grep '^preroll' | middle | row) | $gst |"
    done
}

median3() { # the median of three timed runs: "SECONDS PEAK_KB" (the peak of the median run)
    local runs=()
    for _ in 1 2 3; do runs+=("$(timed "$@")"); done
    printf '%s\n' "${runs[@]}" | sort -n | sed -n 2p
}
gst_pipeline() { # FILE: the words of filesrc ! oggdemux, with a queue and a fakesink per stream
    local n pipeline
    n=$(ffprobe -v error -show_entries stream=index -of csv=p=0 "$1" | wc -l)
    pipeline="filesrc location=$1 ! oggdemux name=d"
    for _ in $(seq "$n"); do pipeline+=" d. ! queue ! fakesink"; done
    echo "$pipeline"
}
section_play() {
    make_seek_files
    make_ffmpeg au.ogg -f lavfi -i "sine=f=440:sample_rate=48000" -f lavfi -i "anoisesrc=a=0.3" -filter_complex amix -ac 2 -t 7200 \
        -c:a libvorbis -q:a 10
    echo "## Play (oggsource play --null, the whole path: resolver, module, events, a sample per packet; ffmpeg -map 0 -c copy -f null -;"
    echo "GStreamer filesrc ! oggdemux ! queue ! fakesink per stream; medians of 3 in this run)"
    echo "| file | MB | packets | ours s | ffmpeg s | GStreamer s | ours packets/s | ffmpeg packets/s | GStreamer packets/s | ours MB/s | ffmpeg MB/s | ours / ffmpeg | peak MB ours / ffmpeg / GStreamer |"
    echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|"
    local f size n os om fs fm gs gm
    for f in au.ogg seek410.ogg av720.ogg; do
        size=$(mb "$DIR/$f"); n=$(packets "$DIR/$f")
        read -r os om < <(median3 "$OGGSOURCE" play --null "$DIR/$f")
        read -r fs fm < <(median3 ffmpeg -v error -i "$DIR/$f" -map 0 -c copy -f null -)
        # shellcheck disable=SC2046
        read -r gs gm < <(median3 gst-launch-1.0 -q $(gst_pipeline "$DIR/$f"))
        echo "| $f | $size | $n | $os | $fs | $gs | $(echo "scale=0; $n / $os" | bc) | $(echo "scale=0; $n / $fs" | bc) | $(echo "scale=0; $n / $gs" | bc) | $(echo "scale=0; $size / $os" | bc) | $(echo "scale=0; $size / $fs" | bc) | $(echo "scale=2; $fs / $os" | bc) | $((om / 1024)) / $((fm / 1024)) / $((gm / 1024)) |"
    done
}

section_futex() {
    make_seek_files
    make_ffmpeg au.ogg -f lavfi -i "sine=f=440:sample_rate=48000" -f lavfi -i "anoisesrc=a=0.3" -filter_complex amix -ac 2 -t 7200 \
        -c:a libvorbis -q:a 10
    echo "## Futex calls per sample (strace -c -f, oggsource play --null on the first 40 MB of each file)"
    echo "| file | samples | futex calls | per sample |"
    echo "|---|---|---|---|"
    local f n calls
    for f in au.ogg seek410.ogg; do
        head -c 40000000 "$DIR/$f" > "$DIR/cut-$f"
        n=$("$OGGSOURCE" play --summary "$DIR/cut-$f" | awk 'NR > 1 && $2 ~ /^[0-9]+$/ { s += $2 } END { print s }')
        strace -c -f -o "$DIR/strace.txt" "$OGGSOURCE" play --null "$DIR/cut-$f" >/dev/null 2>&1 || true
        calls=$(awk '$NF == "futex" { print $4 }' "$DIR/strace.txt")
        echo "| $f | $n | ${calls:-0} | $(echo "scale=2; ${calls:-0} / $n" | bc) |"
        rm -f "$DIR/cut-$f"
    done
}

section_latency() {
    echo "## Host-call latency while a read is stalled"
    echo "av720.ogg (Theora 1280x720 and Vorbis) through the fault byte stream: the host takes samples until the source's"
    echo "reader needs bytes, and that read is held at the stream's gate; five rounds of calls are made while it waits (each"
    echo "round ends started again), then Shutdown. The bench opens the gate 2 s after the read was held."
    echo
    "$OGGBENCH" latency "$DIR/av720.ogg" 2000 ||
        echo "(a call or Shutdown came back only after the gate opened: it waited for the read)"
}

# Wall time of a 10 s play through Wine's Media Session at rates 1, 2 and 0.5 (the Windows build's session verb:
# sample grabber sinks on the presentation clock), for an ffmpeg Theora + Vorbis file through the Ogg source and
# for a WAV and an MP3 file through Wine's own sources, so that what the session does at a rate is told apart from
# what the source does. Needs the Windows leg's build (./run windows); skipped without it.
section_rate() {
    local exe="$ROOT_DIR/build-win/tools/oggsource/oggsource.exe" prefix="$ROOT_DIR/build-win/wine"
    echo "## Rate through Wine's Media Session (wall time of a 10 s play)"
    if [ ! -x "$exe" ] || [ ! -d "$prefix" ] || ! command -v wine >/dev/null; then
        echo "(skipped: no Windows build or Wine prefix; ./run windows makes them)"
        return 0
    fi
    make_ffmpeg rate.ogg -f lavfi -i testsrc=s=160x120:r=25:d=10 -f lavfi -i sine=d=10 -c:v libtheora -c:a libvorbis
    make_ffmpeg rate.wav -f lavfi -i sine=d=10 -ac 2 -f wav
    make_ffmpeg rate.mp3 -f lavfi -i sine=d=10 -c:a libmp3lame -f mp3
    echo "| file (source) | rate | wall s | samples | MESessionEnded |"
    echo "|---|---|---|---|---|"
    local f r t0 out="$DIR/session.txt"
    for f in rate.ogg rate.wav rate.mp3; do
        for r in 1 2 0.5; do
            t0=$(date +%s.%N)
            WINEPREFIX="$prefix" WINEDEBUG=-all OGGSOURCE_REGISTRY="$ROOT_DIR/build-win/registry.reg" \
                timeout 90 wine "$exe" session --any-source --rate "$r" --timeout 40 "Z:$(realpath "$DIR/$f" | tr / '\\')" \
                >"$out" 2>&1 || true
            echo "| $f ($([ "$f" = rate.ogg ] && echo ours || echo "Wine's")) | $r | $(echo "$(date +%s.%N) - $t0" | bc | xargs printf '%.2f') |" \
                "$(grep -c '"time"' "$out" || true) | $(grep -c '"name": "MESessionEnded"' "$out" || true) |"
        done
    done
    WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
}

section_live() {
    echo "## A live stream for minutes"
    if ! command -v icecast2 >/dev/null || ! command -v shout >/dev/null; then
        echo "n/a: icecast2 or shout (libshout-tools) is not installed (./run setup installs them)"
        return 0
    fi
    live_chain "$DIR"
    if ! icecast_start || ! icecast_feed "$DIR/live-chain.ogg" /live.ogg; then
        echo "n/a: Icecast could not be started"
        return 0
    fi
    local url ffpid status=0 ffstatus=0 kbps
    url=$(icecast_url /live.ogg)
    kbps=$(ffprobe -v quiet -show_entries format=bit_rate -of csv=p=0 "$DIR/live-chain.ogg")
    echo "Icecast $(icecast2 -v 2>/dev/null | awk '{ print $2 }'), fed by shout looping a chained Ogg Vorbis file in real time (3 links"
    echo "of 20 s titled \"Link 1\" to \"Link 3\", $((kbps / 1000)) kb/s, made by ffmpeg and oggenc), played for $LIVE_SECONDS s"
    echo "(OGGSOURCE_BENCH_LIVE_MINUTES sets it) by oggbench, a host that polls for events, keeps 4 requests per stream and"
    echo "keeps no sample. Beside it, on the same URL at the same time: ffmpeg -i URL -map 0 -c copy -f null -."
    echo "Peak RSS: VmHWM at the end of each minute, started anew (clear_refs) at its beginning. Links crossed: the Vorbis"
    echo "identification headers the source sends again ahead of each new link, counted in the samples (the server sends"
    echo "one link every 20 s); MESourceMetadataChanged: the source's own announcements of a link. Then the feeder is"
    echo "stopped (SIGSTOP) and, while a read of the source waits for the silent server, host calls are timed."
    echo
    ffmpeg -nostdin -v error -i "$url" -map 0 -c copy -f null - 2>"$DIR/live-ffmpeg.log" &
    ffpid=$!
    "$OGGBENCH" live "$url" "$LIVE_SECONDS" "$SHOUT_PID" "$ffpid" || status=$?
    if kill -0 "$ffpid" 2>/dev/null; then
        kill -INT "$ffpid"
        wait "$ffpid" 2>/dev/null || true
        echo "ffmpeg read the stream to the end of the play."
    else
        wait "$ffpid" || ffstatus=$?
        echo "ffmpeg ended by itself (status $ffstatus) before the play did: $(tail -1 "$DIR/live-ffmpeg.log")"
    fi
    [ "$status" -eq 0 ] || echo "(oggbench live: status $status; see the lines above)"
    icecast_stop
}

first=1
for section in $SECTIONS; do
    [ $first -eq 1 ] || { echo; echo; }
    first=0
    t=$SECONDS
    "section_$section"
    echo
    echo "($section: $((SECONDS - t)) s)"
done
echo
echo "bench: $((SECONDS - T0)) s in all"
