#!/usr/bin/env bash
# Step 1 speed and memory: VideoEdit.so against ffmpeg on a one-hour 640x360 H.264 + AAC source.
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
src=$(bench_hour_source "$build")

# Runs a command under /usr/bin/time; prints "<seconds> <peak RSS KiB>".
measure() {
    local log="$out/time.log"
    /usr/bin/time -f "%e %M" -o "$log" "$@" >/dev/null 2>"$out/stderr" || {
        cat "$out/stderr" >&2
        return 1
    }
    cat "$log"
}

# Smallest time and largest peak RSS over runs; the machine is shared. Each run writes a new file
# (as the program does) after a sync, so that neither the previous run's dirty pages nor the flush
# that ext4 starts when a truncated file is closed weigh on it.
best() {
    local runs=$1 t=0 kb=0 r
    shift
    for ((r = 0; r < runs; r++)); do
        rm -f "$out"/*.wav
        sync
        read -r rt rkb < <(measure "$@")
        t=$(awk -v a="$t" -v b="$rt" -v r="$r" 'BEGIN { print (r == 0 || b < a) ? b : a }')
        kb=$((rkb > kb ? rkb : kb))
    done
    echo "$t $kb"
}

echo "Source: $src ($(du -h "$src" | cut -f1))"
ff_s=0 ve_s=0 ff_kb=0 ve_kb=0
for round in 1 2 3; do # alternate, so that both see the same moments of the machine
    read -r t kb < <(best 1 ffmpeg -nostdin -hide_banner -loglevel error -y -i "$src" -vn -ac 2 -ar 44100 -f wav "$out/ffmpeg.wav")
    ff_s=$(awk -v a="$ff_s" -v b="$t" -v r="$round" 'BEGIN { print (r == 1 || b < a) ? b : a }')
    ff_kb=$((kb > ff_kb ? kb : ff_kb))
    cp "$out/ffmpeg.wav" "$out/ffmpeg.keep" # for the comparison below
    read -r t kb < <(best 1 "$driver" "$module" "$src" 0 3600 "$out/ours.wav" 2 44100 2)
    ve_s=$(awk -v a="$ve_s" -v b="$t" -v r="$round" 'BEGIN { print (r == 1 || b < a) ? b : a }')
    ve_kb=$((kb > ve_kb ? kb : ve_kb))
done
printf "whole hour, 44100 Hz stereo 16-bit (best of 3):  ffmpeg %6.2f s  %4d MiB | VideoEdit %6.2f s  %4d MiB | time ratio %.2f\n" \
    "$ff_s" $((ff_kb / 1024)) "$ve_s" $((ve_kb / 1024)) "$(awk -v a="$ve_s" -v b="$ff_s" 'BEGIN { print a / b }')"
# ffmpeg's header carries extra chunks; compare the samples from each file's "data" chunk on.
ff_data=$(($(grep -obUa -m1 'data' "$out/ffmpeg.keep" | head -1 | cut -d: -f1) + 8))
if cmp -s <(tail -c +$((ff_data + 1)) "$out/ffmpeg.keep") <(tail -c +45 "$out/ours.wav"); then
    same="identical samples"
else
    same="samples differ"
fi
echo "  WAV data: ffmpeg $(($(stat -c %s "$out/ffmpeg.keep") - ff_data)) bytes, VideoEdit $(($(stat -c %s "$out/ours.wav") - 44)) bytes, $same"
rm -f "$out/ffmpeg.keep" "$out/ours.wav"

read -r start_s _ < <(best 3 "$driver" "$module" "$src" 0 10 "$out/start.wav" 2 44100 2)
read -r end_s _ < <(best 3 "$driver" "$module" "$src" 3590 3600 "$out/end.wav" 2 44100 2)
printf "10 s range:  at the start %.2f s | at the end %.2f s | ratio end/start %.2f\n" "$start_s" "$end_s" \
    "$(awk -v a="$end_s" -v b="$start_s" 'BEGIN { print (b > 0 ? a / b : 0) }')"
