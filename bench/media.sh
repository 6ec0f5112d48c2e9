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

# The smaller and the larger of two figures (an empty first one loses), and a / b to two places (0 when b
# is 0), for best-of-n timings and their ratios.
min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a) ? b : a }'; }
max() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b > a) ? b : a }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

# Seconds of wall time of a command (its output discarded); fails when the command fails.
bench_seconds() {
    local log
    log=$(mktemp)
    /usr/bin/time -f "%e" -o "$log" "$@" >/dev/null 2>&1 || { rm -f "$log"; return 1; }
    tail -n 1 "$log"
    rm -f "$log"
}

# Prints the path of the hour as an AVI of the kind capture and editing tools of its era write: the
# H.264 video copied, the audio as 128 kbps CBR MP3 in byte-timed chunks of several frames each (the
# MP3 muxed as raw bytes, then the header names its codec: format 0x55, 2 channels, 44100 Hz).
bench_hour_avi() {
    local media="$1/bench-media" mp4 avi="$1/bench-media/hour-640x360-h264-mp3cbr-bytechunks.avi"
    mp4=$(bench_hour_source "$1") || return 1
    if [[ ! -f "$avi" ]]; then
        echo "Generating $avi (once; kept for later runs)..." >&2
        ffmpeg -hide_banner -loglevel error -y -i "$mp4" -vn -ac 2 -ar 44100 -c:a libmp3lame -b:a 128k \
            -f mp3 "$avi.mp3" >&2
        ffmpeg -hide_banner -loglevel error -y -f u8 -ar 16000 -ac 1 -i "$avi.mp3" -i "$mp4" -map 1:v -map 0:a \
            -c copy -bsf:v h264_mp4toannexb -f avi "$avi.part" >&2
        rm -f "$avi.mp3"
        local auds strf
        auds=$(grep -obUa -m1 auds "$avi.part" | head -1 | cut -d: -f1)
        strf=$(tail -c +"$((auds + 1))" "$avi.part" | head -c 4096 | grep -obUa -m1 strf | head -1 | cut -d: -f1)
        strf=$((auds + strf + 8))
        printf '\x55\x00\x02\x00\x44\xac\x00\x00' | dd of="$avi.part" bs=1 seek="$strf" conv=notrunc status=none
        printf '\x01\x00\x00\x00' | dd of="$avi.part" bs=1 seek="$((strf + 12))" conv=notrunc status=none
        mv "$avi.part" "$avi"
    fi
    echo "$avi"
}

# Prints the path of the hour remuxed to Matroska (with its cues).
bench_hour_mkv() {
    local mp4 mkv="$1/bench-media/hour-640x360-h264-aac48k.mkv"
    mp4=$(bench_hour_source "$1") || return 1
    if [[ ! -f "$mkv" ]]; then
        ffmpeg -hide_banner -loglevel error -y -i "$mp4" -c copy "$mkv.part.mkv" >&2
        mv "$mkv.part.mkv" "$mkv"
    fi
    echo "$mkv"
}

# Prints the path of 25 minutes of the hour as a 48 kHz 24-bit 5.1 FLAC, as a concert recording has it:
# the front pair, a centre and surrounds mixed from it, a low LFE.
bench_flac51_source() {
    local mp4 flac="$1/bench-media/25min-flac-48k-24bit-5.1.flac"
    mp4=$(bench_hour_source "$1") || return 1
    if [[ ! -f "$flac" ]]; then
        echo "Generating $flac (once; kept for later runs)..." >&2
        ffmpeg -hide_banner -loglevel error -y -i "$mp4" -t 1500 -vn \
            -af "pan=5.1|FL=c0|FR=c1|FC=0.5*c0+0.5*c1|LFE=0.3*c0|BL=0.6*c0-0.2*c1|BR=0.6*c1-0.2*c0,lowpass=f=20000" \
            -c:a flac -sample_fmt s32 -bits_per_raw_sample 24 "$flac.part.flac" >&2
        mv "$flac.part.flac" "$flac"
    fi
    echo "$flac"
}
