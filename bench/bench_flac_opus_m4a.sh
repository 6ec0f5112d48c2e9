#!/usr/bin/env bash
# End to end: quillet-cli (step 1 to the hand-over file in the source's own sound, then AvAudioEnc.so)
# against ffmpeg's single pass with the same encoder and settings, for FLAC (level 5), Opus (libopus,
# 96 kbps, audio) and AAC in M4A (FFmpeg's encoder, 160 kbps), the settings' defaults, from the one-hour
# video (AAC, 48 kHz stereo: FLAC at 24 bits, as ffmpeg makes it too); then FLAC of 20 minutes of a
# 48 kHz 24-bit 5.1 FLAC, against "ffmpeg -map 0:a:0 -c:a flac" on the same range, with the peak
# memory of both (goal: under 100 MB). Goal: at most 1.10x each.
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
. "$(dirname "$0")/media.sh"
src=$(bench_hour_source "$build")
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
printf '[General]\nTempPath=%s/tmp/\n' "$out" >"$out/s.ini"

# "wall-seconds cpu-seconds peak-kilobytes" of a command.
measure() {
    local log
    log=$(mktemp)
    /usr/bin/time -f "%e %U %S %M" -o "$log" "$@" >/dev/null 2>&1 || { rm -f "$log"; return 1; }
    tail -n 1 "$log" | awk '{ print $1, $2 + $3, $4 }'
    rm -f "$log"
}

# label, rounds, source, "quillet-cli range arguments", "ffmpeg input arguments", ffmpeg output arguments...
compare() {
    local label=$1 rounds=$2 source=$3 range=$4 input=$5 name=${1%% *} ours="" theirs="" oursCpu="" theirsCpu=""
    local oursMem="" theirsMem="" t
    shift 5
    for ((round = 0; round < rounds; round++)); do # alternate, so both see the same moments of the machine
        sync
        t=($(measure "$build/bin/quillet-cli" -q --settings "$out/s.ini" -f "$name" $range -o "$out/ours.$name" "$source"))
        ours=$(min "$ours" "${t[0]}")
        oursCpu=$(min "$oursCpu" "${t[1]}")
        oursMem=$(max "$oursMem" "${t[2]}")
        rm -f "$out/ours.$name"
        sync
        t=($(measure ffmpeg -nostdin -y $input -i "$source" -map 0:a:0 "$@" "$out/ff.$name"))
        theirs=$(min "$theirs" "${t[0]}")
        theirsCpu=$(min "$theirsCpu" "${t[1]}")
        theirsMem=$(max "$theirsMem" "${t[2]}")
        rm -f "$out/ff.$name"
    done
    printf '%-9s quillet-cli %7.2f s, ffmpeg %7.2f s, ratio %sx (goal <= 1.10x); processor time %7.2f s against %7.2f s, %sx; peak memory %d MB against %d MB\n' \
        "$label" "$ours" "$theirs" "$(ratio "$ours" "$theirs")" "$oursCpu" "$theirsCpu" "$(ratio "$oursCpu" "$theirsCpu")" \
        "$((oursMem / 1024))" "$((theirsMem / 1024))"
}

# FLAC is fast to encode, so a moment of load on the machine weighs more: more rounds.
compare "flac" 5 "$src" "" "" -c:a flac -compression_level 5
compare "opus" 2 "$src" "" "" -c:a libopus -b:a 96k -application audio
compare "m4a" 2 "$src" "" "" -c:a aac -b:a 160k
flac51=$(bench_flac51_source "$build")
compare "flac 5.1" 5 "$flac51" "-s 60 -e 1260" "-ss 60 -t 1200" -c:a flac -compression_level 5
