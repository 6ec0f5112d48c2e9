#!/usr/bin/env bash
# End to end, from the one-hour video: quillet-cli (step 1 to a temporary WAV, then the encoder) against
# ffmpeg's single pass at the same settings, for Ogg Vorbis (managed 128 kbps) and WMA (128 kbps). Goal:
# at most 1.10x each (every lossy format on every core and on one: bench_cores.sh). Then the Ogg encode step alone:
# Vorbis.so fed as the program feeds it against oggenc on the same WAV. Goal: at most 1.05x.
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
. "$(dirname "$0")/media.sh"
src=$(bench_hour_source "$build")
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
printf '[General]\nTempPath=%s/tmp/\n[mp3]\nBitreate Index=8\nQuality Index=0\nVBR Quality Index=0\n[ogg]\nMinimum Bitrate Index=7\nNorminal Bitrate Index=7\nMaximum Bitrate Index=7\n[wma]\nBitreate Index=8\n' "$out" >"$out/s.ini"

compare() { # name, ffmpeg codec arguments...
    local name=$1 ours="" theirs="" t
    shift
    for round in 1 2; do # alternate, so both see the same moments of the machine
        sync
        t=$(bench_seconds "$build/bin/quillet-cli" -q --settings "$out/s.ini" -f "$name" -o "$out/ours.$name" "$src")
        ours=$(min "$ours" "$t")
        rm -f "$out/ours.$name"
        sync
        t=$(bench_seconds ffmpeg -nostdin -y -i "$src" -vn -ac 2 -ar 44100 "$@" "$out/ff.$name")
        theirs=$(min "$theirs" "$t")
        rm -f "$out/ff.$name"
    done
    printf '%-4s end to end: quillet-cli %7.2f s, ffmpeg %7.2f s, ratio %sx (goal <= 1.10x)\n' \
        "$name" "$ours" "$theirs" "$(ratio "$ours" "$theirs")"
}

compare ogg -c:a libvorbis -b:a 128k -minrate 128k -maxrate 128k
compare wma -c:a wmav2 -b:a 128k

# The Ogg encode step alone, on the same 44.1 kHz WAV (ten minutes of the source), written with the
# 44-byte header of the program's temporary WAV: an extra chunk would be fed to Vorbis.so as samples.
ffmpeg -nostdin -v error -y -t 600 -i "$src" -vn -ac 2 -ar 44100 -c:a pcm_s16le -map_metadata -1 \
    -fflags +bitexact "$out/in.wav"
ours="" theirs=""
for round in 1 2 3 4 5; do
    sync
    ours=$(min "$ours" "$(bench_seconds "$build/bench/ogg_bench_driver" "$build/bin/Vorbis.so" "$out/in.wav" "$out/o.ogg" 128000 128000 128000)")
    sync
    theirs=$(min "$theirs" "$(bench_seconds oggenc -Q --managed -b 128 -m 128 -M 128 -o "$out/e.ogg" "$out/in.wav")")
done
printf 'ogg  encode step (10 min WAV): Vorbis.so %6.2f s, oggenc %6.2f s, ratio %sx (goal <= 1.05x)\n' \
    "$ours" "$theirs" "$(ratio "$ours" "$theirs")"
