#!/usr/bin/env bash
# The "original" output, from the one-hour video (H.264 + AAC in MP4): a 10-minute range copied by
# quillet-cli (no decoding, the range exact to the sample) against ffmpeg's own copy of the same range
# ("-ss S -to E -i SRC -vn -c:a copy", whole frames), and against quillet-cli converting the same range
# to MP3. Goals: at most 1.5x ffmpeg's copy, at least 20x faster than MP3, memory flat (under 100 MB,
# the whole hour too).
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
. "$(dirname "$0")/media.sh"
src=$(bench_hour_source "$build")
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
printf '[General]\nTempPath=%s/tmp/\n' "$out" >"$out/s.ini"
start=1800
end=2400

# "wall-seconds peak-resident-MB" of a command (its output discarded).
measure() {
    local log
    log=$(mktemp)
    /usr/bin/time -f "%e %M" -o "$log" "$@" >/dev/null 2>&1 || { rm -f "$log"; return 1; }
    tail -n 1 "$log" | awk '{ printf "%s %.0f\n", $1, $2 / 1024 }'
    rm -f "$log"
}

cli=("$build/bin/quillet-cli" -q --overwrite --settings "$out/s.ini")

ours="" ffmpeg="" mem=""
for round in 1 2 3 4 5; do # alternating, so both see the same moments of the machine
    sync
    t=($(measure "${cli[@]}" -f original -s "$start" -e "$end" -o "$out/ours.m4a" "$src"))
    ours=$(min "$ours" "${t[0]}")
    mem=$(max "$mem" "${t[1]}")
    sync
    t=($(measure ffmpeg -nostdin -y -ss "$start" -to "$end" -i "$src" -vn -c:a copy "$out/ff.m4a"))
    ffmpeg=$(min "$ffmpeg" "${t[0]}")
done
t=($(measure "${cli[@]}" -f mp3 -s "$start" -e "$end" -o "$out/ours.mp3" "$src"))
mp3=${t[0]}
t=($(measure "${cli[@]}" -f original -o "$out/hour.m4a" "$src"))
hour=${t[0]}
hourMem=${t[1]}

printf 'original, 10 min of the hour: quillet-cli %6.2f s, ffmpeg -c:a copy %6.2f s: %sx (goal <= 1.5x)\n' \
    "$ours" "$ffmpeg" "$(ratio "$ours" "$ffmpeg")"
printf 'original against MP3, the same range: %6.2f s against %6.2f s: %sx faster (goal >= 20x)\n' \
    "$ours" "$mp3" "$(ratio "$mp3" "$ours")"
printf 'memory: %s MB peak for 10 min, %s MB for the whole hour (%.2f s) (goal < 100 MB)\n' \
    "$mem" "$hourMem" "$hour"
