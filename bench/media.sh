#!/usr/bin/env bash
# Shared by the benchmarks: the one-hour source and its audio, made once and kept in the build.

# Prints the path of a 3600 s 640x360 H.264 + AAC 48 kHz stereo MP4 with speech-like audio.
bench_hour_source() {
    local media="$1/bench-media" src="$1/bench-media/hour-640x360-h264-aac48k.mp4"
    if [[ ! -f "$src" ]]; then
        mkdir -p "$media"
        echo "Generating $src (once; kept for later runs)..." >&2
        # A voice-range tone whose pitch wanders, cut into syllables and pauses, over a little noise.
        local speech="0.4*sin(2*PI*(140+40*sin(2*PI*0.7*t))*t)*(0.5+0.5*sin(2*PI*3.1*t))*gt(sin(2*PI*0.23*t),-0.6)"
        ffmpeg -hide_banner -loglevel error -y \
            -f lavfi -i "aevalsrc='$speech|$speech':s=48000:d=3600" \
            -f lavfi -i "anoisesrc=color=pink:amplitude=0.02:r=48000:d=3600" \
            -f lavfi -i "testsrc2=s=640x360:r=25:d=3600" \
            -filter_complex "[0:a][1:a]amix=inputs=2:normalize=0[a]" -map 2:v -map "[a]" \
            -c:v libx264 -preset ultrafast -crf 30 -g 250 -c:a aac -b:a 128k -ac 2 "$src.part.mp4" >&2
        mv "$src.part.mp4" "$src"
    fi
    echo "$src"
}

# Seconds of wall time of a command (its output discarded); fails when the command fails.
bench_seconds() {
    local log
    log=$(mktemp)
    /usr/bin/time -f "%e" -o "$log" "$@" >/dev/null 2>&1 || { rm -f "$log"; return 1; }
    tail -n 1 "$log"
    rm -f "$log"
}
