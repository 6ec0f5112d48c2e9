#!/usr/bin/env bash
# A 10 s range at the end of an hour: in an AVI with byte-timed MP3 chunks (placed by counting samples
# from the start) against ffmpeg's accurate seek of the same range ("-i SRC -ss S -to E", which decodes
# the audio from the start, and cuts by the byte-count timestamps, so a few samples off the count);
# and in every container, the end against the start. Sample accuracy is the tests' business.
set -euo pipefail
. "$(dirname "$0")/media.sh"
build="$(cd "${1:-build}" && pwd)"
driver="$build/bench/extract_driver"
module="$build/bin/VideoEdit.so"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
if [[ ! -x "$driver" || ! -f "$module" ]]; then
    echo "Build extract_driver and VideoEdit first (cmake --build $build)." >&2
    exit 1
fi
avi=$(bench_hour_avi "$build")
mkv=$(bench_hour_mkv "$build")
mp4=$(bench_hour_source "$build")

ours() { bench_seconds "$driver" "$module" "$1" "$2" "$3" "$out/ours.wav" 2 44100 2; }
ffmpeg_accurate() {
    bench_seconds ffmpeg -nostdin -hide_banner -loglevel error -y -i "$1" -ss "$2" -to "$3" -vn -ac 2 -ar 44100 \
        "$out/ffmpeg.wav"
}

# Best of three, alternating, so that both see the same moments of the shared machine.
ve="" ff=""
for round in 1 2 3; do
    ve=$(min "$ve" "$(ours "$avi" 3590 3600)")
    ff=$(min "$ff" "$(ffmpeg_accurate "$avi" 3590 3600)")
done
printf "AVI, 10 s at the end:  VideoEdit %.2f s | ffmpeg -ss (accurate) %.2f s | ratio %s\n" "$ve" "$ff" \
    "$(ratio "$ve" "$ff")"
for src in "$avi" "$mkv" "$mp4"; do
    start="" end=""
    for round in 1 2 3; do
        start=$(min "$start" "$(ours "$src" 0 10)")
        end=$(min "$end" "$(ours "$src" 3590 3600)")
    done
    printf "%-4s 10 s range: at the start %.2f s | at the end %.2f s | ratio end/start %s\n" "${src##*.}" \
        "$start" "$end" "$(ratio "$end" "$start")"
done
