#!/usr/bin/env bash
# Benchmarks: open, play and seek costs of the source next to ffprobe / ffmpeg on the same files, in one run.
# Files are written by oggmux into BUILD/bench once (they are large and never committed).
set -euo pipefail
BUILD=${1:-build}
DIR="$BUILD/bench"
OGGMUX="$BUILD/tools/oggmux/oggmux"
OGGSOURCE="$BUILD/tools/oggsource/oggsource"
OGGBENCH="$BUILD/bench/oggbench"
mkdir -p "$DIR"
"$OGGSOURCE" register >/dev/null

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

echo "## Open (one open; ffprobe -show_streams on the same file)"
echo "| file | MB | reads | bytes read | open ms | ffprobe s |"
echo "|---|---|---|---|---|---|"
for f in av720.ogg vorbis.ogg; do
    line=$("$OGGBENCH" open "$DIR/$f" 5)
    reads=$(echo "$line" | sed -E 's/.*: ([0-9]+) reads.*/\1/'); bytes=$(echo "$line" | sed -E 's/.* ([0-9]+) bytes.*/\1/')
    ms=$(echo "$line" | sed -E 's/.*median ([0-9.]+) ms/\1/')
    fp=$(timed ffprobe -v error -show_streams "$DIR/$f" | cut -d' ' -f1)
    echo "| $f | $(mb "$DIR/$f") | $reads | $bytes | $ms | $fp |"
done

echo
echo
# The seek files: Theora 640x360 (noise) and Vorbis by ffmpeg, 300 s (about 410 MB), and cuts of it and a
# loop of it for about 10 MB, 100 MB and 1 GB.
make_ffmpeg() { # NAME ARGS...
    local name=$1; shift
    [ -s "$DIR/$name" ] || { echo "bench: writing $name" >&2; ffmpeg -v error -y "$@" -fflags +bitexact "$DIR/$name.tmp.ogg" && mv "$DIR/$name.tmp.ogg" "$DIR/$name"; }
}
make_ffmpeg seek410.ogg -f lavfi -i "testsrc2=size=640x360:rate=25,noise=alls=12:allf=t" -f lavfi -i "sine=f=440:sample_rate=48000" \
    -t 300 -map 0:v -map 1:a -c:v libtheora -q:v 8 -g 64 -c:a libvorbis -q:a 6
make_ffmpeg seek10.ogg -i "$DIR/seek410.ogg" -t 7.5 -c copy
make_ffmpeg seek100.ogg -i "$DIR/seek410.ogg" -t 75 -c copy
make_ffmpeg seek1000.ogg -stream_loop 2 -i "$DIR/seek410.ogg" -t 750 -c copy

echo
echo "## Seek (100 random targets from the stopped state, seed 1; GStreamer: 50 flushing key-unit seeks in one process)"
echo "ours, search: Start with a position until MESourceSeeked. ours, preroll: until the first data sample of every"
echo "stream. GStreamer: seek_simple(FLUSH|KEY_UNIT) until ASYNC_DONE (filesrc ! oggdemux ! queue ! fakesink per stream)."
echo "| file | MB | search median / worst ms | search bytes / reads | preroll median / worst ms | preroll bytes / reads | GStreamer median / worst ms | GStreamer bytes / reads |"
echo "|---|---|---|---|---|---|---|---|"
row() { # "what FILE: N seeks, median A ms, worst B ms, C bytes/seek, D reads/seek" -> "A / B | C / D"
    sed -E 's/.*median ([0-9.]+) ms, worst ([0-9.]+) ms, ([0-9]+) bytes\/seek, ([0-9.]+) reads\/seek/\1 \/ \2 | \3 \/ \4/'
}
for f in seek10.ogg seek100.ogg seek410.ogg seek1000.ogg ogm100.ogg ogm400.ogg; do
    out=$("$OGGBENCH" seek "$DIR/$f" 100 1)
    gst=$(/usr/bin/python3 "$(dirname "$0")/gst_seek.py" "$DIR/$f" 50 1 2>/dev/null | row) || gst=""
    [ -n "$gst" ] || gst="n/a | n/a"
    echo "| $f | $(mb "$DIR/$f") | $(echo "$out" | grep '^search' | row) | $(echo "$out" | grep '^preroll' | row) | $gst |"
done

# Throughput: the A/V file is seek410.ogg (the same ffmpeg command); the audio file two hours of Vorbis q10.
make_ffmpeg au.ogg -f lavfi -i "sine=f=440:sample_rate=48000" -f lavfi -i "anoisesrc=a=0.3" -filter_complex amix -ac 2 -t 7200 \
    -c:a libvorbis -q:a 10
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
echo
echo "## Play (oggsource play --null, the whole path: resolver, module, events, a sample per packet; ffmpeg -map 0 -c copy -f null -;"
echo "GStreamer filesrc ! oggdemux ! queue ! fakesink per stream; medians of 3 in this run)"
echo "| file | MB | packets | ours s | ffmpeg s | GStreamer s | ours packets/s | ffmpeg packets/s | GStreamer packets/s | ours MB/s | ffmpeg MB/s | ours / ffmpeg | peak MB ours / ffmpeg / GStreamer |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|"
for f in au.ogg seek410.ogg av720.ogg; do
    size=$(mb "$DIR/$f"); n=$(packets "$DIR/$f")
    read -r os om < <(median3 "$OGGSOURCE" play --null "$DIR/$f")
    read -r fs fm < <(median3 ffmpeg -v error -i "$DIR/$f" -map 0 -c copy -f null -)
    # shellcheck disable=SC2046
    read -r gs gm < <(median3 gst-launch-1.0 -q $(gst_pipeline "$DIR/$f"))
    echo "| $f | $size | $n | $os | $fs | $gs | $(echo "scale=0; $n / $os" | bc) | $(echo "scale=0; $n / $fs" | bc) | $(echo "scale=0; $n / $gs" | bc) | $(echo "scale=0; $size / $os" | bc) | $(echo "scale=0; $size / $fs" | bc) | $(echo "scale=2; $fs / $os" | bc) | $((om / 1024)) / $((fm / 1024)) / $((gm / 1024)) |"
done
echo
echo "## Futex calls per sample (strace -c -f, oggsource play --null on the first 40 MB of each file)"
echo "| file | samples | futex calls | per sample |"
echo "|---|---|---|---|"
for f in au.ogg seek410.ogg; do
    head -c 40000000 "$DIR/$f" > "$DIR/cut-$f"
    n=$("$OGGSOURCE" play --summary "$DIR/cut-$f" | awk 'NR > 1 && $2 ~ /^[0-9]+$/ { s += $2 } END { print s }')
    strace -c -f -o "$DIR/strace.txt" "$OGGSOURCE" play --null "$DIR/cut-$f" >/dev/null 2>&1 || true
    calls=$(awk '$NF == "futex" { print $4 }' "$DIR/strace.txt")
    echo "| $f | $n | ${calls:-0} | $(echo "scale=2; ${calls:-0} / $n" | bc) |"
    rm -f "$DIR/cut-$f"
done
