#!/usr/bin/env bash
# End to end, from the one-hour video: quillet-cli (step 1 to a temporary WAV, then AvAudioEnc.so)
# against ffmpeg's single pass with the same encoder and settings, for FLAC (level 5, 16 bit), Opus
# (libopus, 96 kbps, audio) and AAC in M4A (FFmpeg's encoder, 160 kbps): the settings' defaults.
# Goal: at most 1.10x each. Opus is coded at 48 kHz: ffmpeg takes the 48 kHz source as it is, while
# Quillet's step 1 goes through 44.1 kHz like every format's.
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
. "$(dirname "$0")/media.sh"
src=$(bench_hour_source "$build")
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
printf '[General]\nTempPath=%s/tmp/\n' "$out" >"$out/s.ini"

# "wall-seconds cpu-seconds" of a command (its output discarded). The processor time (user + system)
# is printed beside the wall time: on a machine shared with other work it varies far less.
times_of() {
    local log
    log=$(mktemp)
    /usr/bin/time -f "%e %U %S" -o "$log" "$@" >/dev/null 2>&1 || { rm -f "$log"; return 1; }
    tail -n 1 "$log" | awk '{ print $1, $2 + $3 }'
    rm -f "$log"
}

compare() { # name, rounds, ffmpeg arguments after -vn...
    local name=$1 rounds=$2 ours="" theirs="" oursCpu="" theirsCpu="" t
    shift 2
    for ((round = 0; round < rounds; round++)); do # alternate, so both see the same moments of the machine
        sync
        t=($(times_of "$build/bin/quillet-cli" -q --settings "$out/s.ini" -f "$name" -o "$out/ours.$name" "$src"))
        ours=$(min "$ours" "${t[0]}")
        oursCpu=$(min "$oursCpu" "${t[1]}")
        rm -f "$out/ours.$name"
        sync
        t=($(times_of ffmpeg -nostdin -y -i "$src" -vn -ac 2 "$@" "$out/ff.$name"))
        theirs=$(min "$theirs" "${t[0]}")
        theirsCpu=$(min "$theirsCpu" "${t[1]}")
        rm -f "$out/ff.$name"
    done
    printf '%-4s end to end: quillet-cli %7.2f s, ffmpeg %7.2f s, ratio %sx (goal <= 1.10x); processor time %7.2f s against %7.2f s, %sx\n' \
        "$name" "$ours" "$theirs" "$(ratio "$ours" "$theirs")" "$oursCpu" "$theirsCpu" "$(ratio "$oursCpu" "$theirsCpu")"
}

# FLAC is fast to encode, so a moment of load on the machine weighs more: more rounds.
compare flac 5 -ar 44100 -sample_fmt s16 -c:a flac -compression_level 5
compare opus 2 -c:a libopus -b:a 96k -application audio
compare m4a 2 -ar 44100 -c:a aac -b:a 160k
