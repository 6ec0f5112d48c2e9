#!/usr/bin/env bash
# MP3 end to end: quillet-cli (step 1 to a temporary WAV, then LAME) against ffmpeg's single pass
# with libmp3lame at the same settings (128 kbps CBR), on the one-hour source.
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
. "$(dirname "$0")/media.sh"
src=$(bench_hour_source "$build")
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
printf '[General]\nTempPath=%s/tmp/\n[mp3]\nBitreate Index=8\nQuality Index=0\nVBR Quality Index=0\n' "$out" >"$out/s.ini"

best_ours=999999 best_ff=999999
for round in 1 2; do # alternate, so both see the same moments of the machine
    sync
    t=$(bench_seconds "$build/bin/quillet-cli" -q --settings "$out/s.ini" -f mp3 -o "$out/ours.mp3" "$src")
    best_ours=$(awk -v a="$best_ours" -v b="$t" 'BEGIN { print (b < a) ? b : a }')
    rm -f "$out/ours.mp3"
    sync
    t=$(bench_seconds ffmpeg -nostdin -y -i "$src" -vn -ac 2 -ar 44100 -c:a libmp3lame -b:a 128k -compression_level 5 -reservoir 0 "$out/ff.mp3")
    best_ff=$(awk -v a="$best_ff" -v b="$t" 'BEGIN { print (b < a) ? b : a }')
    rm -f "$out/ff.mp3"
done
printf 'MP3 end to end, 3600 s source: quillet-cli %.2f s, ffmpeg+libmp3lame %.2f s, ratio %.2fx (goal <= 1.10x)\n' \
    "$best_ours" "$best_ff" "$(awk -v a="$best_ours" -v b="$best_ff" 'BEGIN { print a / b }')"
