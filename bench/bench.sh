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
echo "## Play (oggsource play --null vs ffmpeg -v error -i F -map 0 -c copy -f null -)"
echo "| file | MB | ours s | ffmpeg s | ours MB/s | ffmpeg MB/s | MB/s ratio | packets | ours packets/s | ffmpeg packets/s | ours peak MB | ffmpeg peak MB |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|"
for f in av720.ogg vorbis.ogg; do
    size=$(mb "$DIR/$f"); n=$(packets "$DIR/$f")
    read -r os om < <(timed "$OGGSOURCE" play --null "$DIR/$f")
    read -r fs fm < <(timed ffmpeg -v error -i "$DIR/$f" -map 0 -c copy -f null -)
    echo "| $f | $size | $os | $fs | $(echo "scale=0; $size / $os" | bc) | $(echo "scale=0; $size / $fs" | bc) | $(echo "scale=2; $fs / $os" | bc) | $n | $(echo "scale=0; $n / $os" | bc) | $(echo "scale=0; $n / $fs" | bc) | $((om / 1024)) | $((fm / 1024)) |"
done

echo
echo "## Seek (100 random targets from the stopped state, seed 1, time to MESourceSeeked)"
echo "| file | MB | result |"
echo "|---|---|---|"
for f in av720.ogg vorbis.ogg ogm10.ogg ogm100.ogg ogm400.ogg; do
    echo "| $f | $(mb "$DIR/$f") | $("$OGGBENCH" seek "$DIR/$f" 100 1 | sed 's/^seek [^:]*: //') |"
done
echo
echo "ffmpeg per seek (ffmpeg -ss T -i F -map 0 -c copy -frames:v 1 -f null -, 10 targets, minus its open):"
for f in av720.ogg ogm100.ogg; do
    open=$(timed ffprobe -v error -show_streams "$DIR/$f" | cut -d' ' -f1)
    total=0
    for t in 1 2 3 4 5 6 7 8 9 10; do
        s=$(timed ffmpeg -v error -ss "$t" -i "$DIR/$f" -map 0 -c copy -frames:v 1 -f null - | cut -d' ' -f1)
        total=$(echo "$total + $s" | bc)
    done
    echo "  $f: $(echo "scale=4; ($total / 10 - $open) * 1000" | bc) ms per seek (ffprobe open $open s)"
done
