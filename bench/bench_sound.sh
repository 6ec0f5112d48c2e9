#!/usr/bin/env bash
# Loudness and fades, end to end from the one-hour video to MP3 (128 kbps, on every core): the same
# conversion plain, with --normalize (step 1 measures, step 2 applies one gain) and with fades.
# Goal: normalisation at most 1.10x the plain conversion; fades alone nothing measurable.
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
. "$(dirname "$0")/media.sh"
src=$(bench_hour_source "$build")
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
printf '[General]\nTempPath=%s/tmp/\n[mp3]\nBitreate Index=8\nQuality Index=0\nVBR Quality Index=0\n' "$out" >"$out/s.ini"

plain="" normalized="" faded=""
run() { # extra options...
    sync
    local t
    t=$(bench_seconds "$build/bin/quillet-cli" -q --settings "$out/s.ini" -f mp3 -o "$out/o.mp3" "$@" "$src")
    rm -f "$out/o.mp3"
    echo "$t"
}
for round in 1 2 3; do # alternate, so each sees the same moments of the machine
    plain=$(min "$plain" "$(run)")
    normalized=$(min "$normalized" "$(run --normalize=-16)")
    faded=$(min "$faded" "$(run --fade-in 2000 --fade-out 2000)")
done
printf 'mp3 1 h plain %7.2f s, --normalize %7.2f s, ratio %sx (goal <= 1.10x)\n' "$plain" "$normalized" \
    "$(ratio "$normalized" "$plain")"
printf 'mp3 1 h plain %7.2f s, fades       %7.2f s, ratio %sx (goal: 1.00x)\n' "$plain" "$faded" \
    "$(ratio "$faded" "$plain")"
