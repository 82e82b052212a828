# shellcheck shell=bash
# Sourced by bench.sh: a real Icecast 2 server on 127.0.0.1, fed live by libshout-tools' `shout` looping a
# chained Ogg Vorbis file in real time. As root, Icecast runs as nobody:nogroup (its changeowner; it refuses
# to run as root). Every process is ended by its id.

ICECAST_DIR="" ICECAST_PORT="" ICECAST_PID="" SHOUT_PID=""
ICECAST_PASSWORD=oggbench

# live_chain DIR: DIR/live-chain.ogg, three links of 20 s of stereo Vorbis (about 120 kb/s: a tone with a
# different noise on each channel), titled "Link 1" to "Link 3", made once with ffmpeg and oggenc.
live_chain() {
    local dir=$1 i
    [ -s "$dir/live-chain.ogg" ] && return 0
    echo "bench: writing live-chain.ogg" >&2
    for i in 1 2 3; do
        ffmpeg -v error -y -f lavfi -i "sine=f=$((220 * i)):sample_rate=44100" \
            -f lavfi -i "anoisesrc=a=0.3:c=pink:r=44100:seed=$i" -f lavfi -i "anoisesrc=a=0.3:c=white:r=44100:seed=$((i + 10))" \
            -filter_complex "[0][1]amix[l];[0][2]amix[r];[l][r]join=inputs=2:channel_layout=stereo" -t 20 "$dir/link$i.wav"
        oggenc -Q -q 4 -s $((7000 + i)) -t "Link $i" -a "oggbench" "$dir/link$i.wav" -o "$dir/link$i.ogg" 2>/dev/null
    done
    cat "$dir/link1.ogg" "$dir/link2.ogg" "$dir/link3.ogg" >"$dir/live-chain.ogg.tmp"
    mv "$dir/live-chain.ogg.tmp" "$dir/live-chain.ogg"
    rm -f "$dir"/link[123].wav "$dir"/link[123].ogg
}

# http_status PORT PATH: the status of a GET (0 when nothing answers within 2 s).
http_status() {
    local status
    # shellcheck disable=SC2016 # the inner shell expands its own arguments
    status=$(timeout 2 bash -c 'exec 3<>"/dev/tcp/127.0.0.1/$1" && printf "GET %s HTTP/1.0\r\n\r\n" "$2" >&3 &&
        head -c 12 <&3' _ "$1" "$2" 2>/dev/null | cut -d' ' -f2) || true
    echo "${status:-0}"
}

# wait_status PATH STATUS: waits up to 10 s for that status.
wait_status() {
    local i
    for i in $(seq 100); do
        [ "$(http_status "$ICECAST_PORT" "$1")" = "$2" ] && return 0
        sleep 0.1
    done
    echo "bench: no HTTP $2 for $1 on port $ICECAST_PORT; icecast2's log:" >&2
    tail -5 "$ICECAST_DIR/error.log" >&2 2>/dev/null || true
    return 1
}

icecast_start() {
    local owner=""
    ICECAST_DIR=$(mktemp -d /tmp/oggbench-icecast-XXXXXX)
    ICECAST_PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    if [ "$(id -u)" -eq 0 ]; then
        chown nobody:nogroup "$ICECAST_DIR"
        owner="<changeowner><user>nobody</user><group>nogroup</group></changeowner>"
    fi
    cat >"$ICECAST_DIR/icecast.xml" <<EOF
<icecast><location>bench</location><admin>bench@localhost</admin>
<limits><clients>20</clients><sources>4</sources><queue-size>524288</queue-size><burst-size>0</burst-size>
<source-timeout>10</source-timeout><header-timeout>15</header-timeout><client-timeout>30</client-timeout></limits>
<authentication><source-password>$ICECAST_PASSWORD</source-password><admin-user>admin</admin-user>
<admin-password>$ICECAST_PASSWORD</admin-password></authentication>
<hostname>127.0.0.1</hostname><listen-socket><port>$ICECAST_PORT</port><bind-address>127.0.0.1</bind-address></listen-socket>
<fileserve>0</fileserve><paths><basedir>/usr/share/icecast2</basedir><logdir>$ICECAST_DIR</logdir>
<webroot>/usr/share/icecast2/web</webroot><adminroot>/usr/share/icecast2/admin</adminroot></paths>
<logging><accesslog>access.log</accesslog><errorlog>error.log</errorlog><loglevel>3</loglevel></logging>
<security><chroot>0</chroot>$owner</security></icecast>
EOF
    icecast2 -c "$ICECAST_DIR/icecast.xml" >"$ICECAST_DIR/icecast.out" 2>&1 &
    ICECAST_PID=$!
    wait_status /none.ogg 404 # the server's own answer for a mount nobody feeds
}

# icecast_feed FILE MOUNT: shout sends FILE over and over, paced in real time; the loop ends with shout.
icecast_feed() {
    local file=$1 mount=$2
    (while cat "$file"; do :; done) | shout --format ogg -H 127.0.0.1 -P "$ICECAST_PORT" --mount "$mount" \
        --user source --pass "$ICECAST_PASSWORD" >"$ICECAST_DIR/shout.out" 2>&1 &
    SHOUT_PID=$!
    wait_status "$mount" 200
}

icecast_url() { echo "http://127.0.0.1:$ICECAST_PORT$1"; }

icecast_stop() {
    local pid
    for pid in "$SHOUT_PID" "$ICECAST_PID"; do
        [ -n "$pid" ] || continue
        kill -CONT "$pid" 2>/dev/null || true
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    SHOUT_PID="" ICECAST_PID=""
    [ -n "$ICECAST_DIR" ] && rm -rf "$ICECAST_DIR"
    ICECAST_DIR=""
}
