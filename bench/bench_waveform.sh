#!/usr/bin/env bash
# The waveform overview of a one-hour 640x360 H.264 + AAC video against `ffmpeg -i SRC -vn -f null -`.
set -euo pipefail
. "$(dirname "$0")/media.sh"
build="$(cd "${1:-build}" && pwd)"
driver="$build/bench/waveform_driver"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT

if [[ ! -x "$driver" ]]; then
    echo "Build waveform_driver first (cmake --build $build)." >&2
    exit 1
fi
src=$(bench_hour_source "$build")

# Runs a command under /usr/bin/time; prints "<seconds> <peak RSS KiB>".
measure() {
    /usr/bin/time -f "%e %M" -o "$out/time.log" "$@" >"$out/stdout" 2>"$out/stderr" || {
        cat "$out/stderr" >&2
        return 1
    }
    cat "$out/time.log"
}

echo "Source: $src ($(du -h "$src" | cut -f1))"
ff_s=0 wf_s=0 ff_kb=0 wf_kb=0
for round in 1 2 3; do # alternate, so that both see the same moments of the machine
    read -r t kb < <(measure ffmpeg -nostdin -hide_banner -loglevel error -i "$src" -vn -f null -)
    ff_s=$(awk -v a="$ff_s" -v b="$t" -v r="$round" 'BEGIN { print (r == 1 || b < a) ? b : a }')
    ff_kb=$((kb > ff_kb ? kb : ff_kb))
    read -r t kb < <(measure "$driver" "$src")
    wf_s=$(awk -v a="$wf_s" -v b="$t" -v r="$round" 'BEGIN { print (r == 1 || b < a) ? b : a }')
    wf_kb=$((kb > wf_kb ? kb : wf_kb))
    echo "  round $round: ffmpeg ${ff_s} s, overview ${t} s"
done
printf "whole hour (best of 3):  ffmpeg -vn -f null %6.2f s  %4d MiB | overview %6.2f s  %4d MiB | time ratio %.2f\n" \
    "$ff_s" $((ff_kb / 1024)) "$wf_s" $((wf_kb / 1024)) "$(awk -v a="$wf_s" -v b="$ff_s" 'BEGIN { print a / b }')"
echo "  overview: $(cat "$out/stdout")"
