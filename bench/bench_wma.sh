#!/usr/bin/env bash
# WMA output speed: WmAudSDK.so fed the way the program feeds it (2304-byte chunks of the temporary
# WAV) against the ffmpeg program encoding the same WAV with the same codec and bitrate.
# Usage: bench_wma.sh <build dir>. Goal: the module takes at most 1.05 times ffmpeg's time.
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
driver="$build/bench/wma_bench_driver"
module="$build/bin/WmAudSDK.so"
media="$build/bench-media"
wav="$media/speech-10min.wav"
runs=3

for f in "$driver" "$module"; do
    [[ -x "$f" || -f "$f" ]] || { echo "missing $f: build first" >&2; exit 1; }
done
mkdir -p "$media"
if [[ ! -s "$wav" ]]; then
    echo "generating $wav (10 minutes of speech-like sound, once)"
    # A voice-like tone (gliding pitch, three harmonics) over pink noise, cut into syllables.
    voice="0.25*sin(2*PI*140*t+3*sin(2*PI*0.7*t))+0.15*sin(2*PI*280*t+6*sin(2*PI*0.7*t))"
    voice="$voice+0.08*sin(2*PI*560*t+12*sin(2*PI*0.7*t))"
    ffmpeg -v error -y -f lavfi -i "aevalsrc=exprs='$voice':s=44100:d=600" \
        -f lavfi -i "anoisesrc=c=pink:r=44100:a=0.08:d=600" \
        -filter_complex "[0][1]amix=inputs=2:normalize=0,tremolo=f=3.5:d=0.9,aformat=channel_layouts=stereo" \
        -fflags +bitexact -flags:a +bitexact -c:a pcm_s16le -ar 44100 -f wav "$wav.part"
    mv "$wav.part" "$wav"
fi

out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
now() { date +%s%N; }
best_module=0
best_ffmpeg=0
for ((i = 0; i < runs; i++)); do
    t0=$(now)
    "$driver" "$module" "$wav" "$out/module.wma" 128000
    t1=$(now)
    ffmpeg -v error -y -i "$wav" -c:a wmav2 -b:a 128k "$out/ffmpeg.wma"
    t2=$(now)
    m=$(((t1 - t0) / 1000000))
    f=$(((t2 - t1) / 1000000))
    ((best_module == 0 || m < best_module)) && best_module=$m
    ((best_ffmpeg == 0 || f < best_ffmpeg)) && best_ffmpeg=$f
done
printf '128 kbps, 10 min stereo 44.1 kHz, best of %d runs\n' "$runs"
printf '  WmAudSDK.so (2304-byte chunks): %6d ms  %s bytes\n' "$best_module" "$(stat -c %s "$out/module.wma")"
printf '  ffmpeg -c:a wmav2 -b:a 128k:    %6d ms  %s bytes\n' "$best_ffmpeg" "$(stat -c %s "$out/ffmpeg.wma")"
awk -v m="$best_module" -v f="$best_ffmpeg" 'BEGIN { printf "  ratio module/ffmpeg: %.3fx (goal: at most 1.05x)\n", m / f }'
