#!/usr/bin/env bash
# Pieces: the 40 chapters of a two-hour audiobook to MP3 against the whole file as one piece (goal: at
# most 1.1x), and Split at Silence from the waveform's overview against the reading of that overview.
set -euo pipefail
. "$(dirname "$0")/media.sh"
build="$(cd "${1:-build}" && pwd)"
cli="$build/bin/quillet-cli"
driver="$build/bench/waveform_driver"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
media="$build/bench-media"
src="$media/two-hours-40-chapters.m4b"
if [[ ! -f "$src" ]]; then
    mkdir -p "$media"
    echo "Generating $src (once; kept for later runs)..." >&2
    {
        echo ";FFMETADATA1"
        echo "title=Two Hours"
        for i in $(seq 0 39); do
            printf '[CHAPTER]\nTIMEBASE=1/1000\nSTART=%d\nEND=%d\ntitle=Chapter %d\n' $((i * 180000)) \
                $(((i + 1) * 180000)) $((i + 1))
        done
    } >"$out/chapters.txt"
    # Speech-like: a wandering voice-range tone in syllables, with a pause of 2 s every 30 s.
    speech="0.4*sin(2*PI*(140+40*sin(2*PI*0.7*t))*t)*(0.5+0.5*sin(2*PI*3.1*t))*gt(mod(t,30),2)"
    ffmpeg -hide_banner -loglevel error -y -f lavfi -i "aevalsrc='$speech|$speech':s=44100:d=7200" \
        -i "$out/chapters.txt" -map 0 -map_metadata 1 -c:a aac -b:a 96k -f ipod "$src.part" >&2
    mv "$src.part" "$src"
fi
printf '[General]\nTempPath=%s/tmp/\n' "$out" >"$out/settings.ini"
echo "Source: $src ($(du -h "$src" | cut -f1))"
whole="" pieces=""
for round in 1 2; do # alternate, so that both see the same moments of the machine
    rm -rf "$out/whole.mp3" "$out/pieces"
    t=$(bench_seconds "$cli" --settings "$out/settings.ini" -q -f mp3 -o "$out/whole.mp3" "$src")
    whole=$(min "$whole" "$t")
    t2=$(bench_seconds "$cli" --settings "$out/settings.ini" -q -f mp3 --chapters -o "$out/pieces/" "$src")
    pieces=$(min "$pieces" "$t2")
    echo "  round $round: whole ${t} s, 40 chapters ${t2} s"
done
echo "two hours to MP3 (best of 2): whole ${whole} s | 40 chapters ${pieces} s | ratio $(ratio "$pieces" "$whole") (goal <= 1.10)"
echo "silence: $("$driver" "$src" --split)"
