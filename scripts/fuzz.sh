#!/usr/bin/env bash
# Runs the libFuzzer targets of a fuzz build, each for the given number of seconds, on seeds generated
# here (nothing generated is committed). Crashes land in <build>/fuzz-artifacts/<target>/.
# Usage: fuzz.sh <build-dir> <seconds> [target...]
set -euo pipefail
build=$(realpath "$1")
seconds=$2
shift 2
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || targets=(fuzz_ini fuzz_encoders fuzz_extract)
seeds=$build/fuzz-seeds
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

ff() { ffmpeg -v error -nostdin -y "$@"; }

if [[ ! -f $seeds/.done ]]; then
    rm -rf "$seeds"
    mkdir -p "$seeds"/{fuzz_ini,fuzz_encoders,fuzz_extract}

    # Settings files: a complete one, one with every index out of range, odd syntax.
    printf '[General]\nOutputPathType=1\nOutputPath=/tmp/out/\nTempPath=/tmp/\nFormat=2\nArtist=A\nAlbum=B\nYear=1999\nGenre=12\n[mp3]\nChannel=1\nBitrate=9\nQuality=2\nVbrQuality=3\nVbrBitrate=4\n[wav]\nChannel=1\nBits=1\nSample=8\n[ogg]\nMinBitrate=1\nNominalBitrate=4\nMaxBitrate=9\nMode=1\n[wma]\nBitrate=5\n' >"$seeds/fuzz_ini/full.ini"
    printf '[General]\nFormat=99\nGenre=-4\n[mp3]\nBitrate=2147483647\n[wav]\nSample=-2147483648\n[ogg]\nMinBitrate=12\n[wma]\nBitrate=10\n' >"$seeds/fuzz_ini/range.ini"
    printf '\xef\xbb\xbf; comment\r\n[ General ]\r\nArtist = "quoted"\r\nAlbum=\xc3\xa9\xe2\x82\xac\r\n[general]\r\nFormat=1\r\n=\r\n[\r\nkey\r\n' >"$seeds/fuzz_ini/odd.ini"

    # Temporary WAVs: selector byte, 64 settings bytes, then a WAV (canonical, short, odd length).
    ff -f lavfi -i "sine=frequency=440:duration=0.1" -ac 2 -ar 44100 -c:a pcm_s16le "$tmp/t.wav"
    head -c 44 "$tmp/t.wav" >"$tmp/header.wav"
    for enc in 0 1 2; do
        for body in t header; do
            { printf "\\x$(printf %02x $enc)"; head -c 64 /dev/zero; cat "$tmp/$body.wav"; } \
                >"$seeds/fuzz_encoders/$enc-$body"
        done
        { printf "\\x$(printf %02x $enc)"; head -c 64 /dev/zero; head -c 1001 "$tmp/t.wav"; } \
            >"$seeds/fuzz_encoders/$enc-odd"
    done

    # Media of the common containers, a few KB each.
    a=(-f lavfi -i "sine=frequency=440:duration=0.25")
    v=(-f lavfi -i "testsrc=size=32x24:rate=5:duration=0.25")
    x=$seeds/fuzz_extract
    ff "${a[@]}" -ar 8000 -ac 1 -c:a pcm_s16le "$x/a.wav"
    ff "${a[@]}" -ar 8000 -ac 1 -c:a libmp3lame -b:a 8k "$x/a.mp3"
    ff "${a[@]}" -ar 8000 -ac 1 -c:a libvorbis -q:a 0 "$x/a.ogg"
    ff "${a[@]}" -ar 8000 -ac 1 -c:a flac "$x/a.flac"
    ff "${a[@]}" -ar 8000 -ac 1 -c:a wmav2 -b:a 32k "$x/a.wma"
    ff "${a[@]}" -ac 1 -c:a libopus -b:a 8k "$x/a.opus"
    ff "${a[@]}" -ar 32000 -ac 1 -c:a ac3 -b:a 32k "$x/a.ac3"
    ff "${v[@]}" "${a[@]}" -ar 8000 -ac 1 -c:v mpeg4 -c:a aac -b:a 8k -shortest "$x/v.mp4"
    ff "${v[@]}" "${a[@]}" -ar 8000 -ac 1 -c:v mpeg4 -c:a libvorbis -shortest "$x/v.mkv"
    ff "${v[@]}" "${a[@]}" -ar 8000 -ac 1 -c:v mpeg4 -c:a libmp3lame -b:a 8k -shortest "$x/v.avi"
    ff -f lavfi -i "testsrc=size=32x24:rate=25:duration=0.25" "${a[@]}" -ar 16000 -ac 1 -c:v mpeg1video -c:a mp2 -b:a 32k -shortest -f vob "$x/v.mpg"
    ff "${v[@]}" "${a[@]}" -ar 8000 -ac 1 -c:v wmv2 -c:a wmav2 -b:a 32k -shortest "$x/v.asf"
    ff "${v[@]}" -c:v mpeg4 "$x/noaudio.mkv"
    touch "$seeds/.done"
fi

# The runtime is a shared library (the modules link to it); the fuzzer's own link order is fine.
export ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$(realpath "$(dirname "$0")")/sanitizers/lsan.supp

for t in "${targets[@]}"; do
    corpus=$build/fuzz-corpus/$t
    artifacts=$build/fuzz-artifacts/$t
    mkdir -p "$corpus" "$artifacts"
    echo "== $t: $seconds s"
    "$build/fuzz/$t" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 -max_len=65536 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" "$seeds/$t" 2>&1 |
        grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::new_units_added|==[0-9]+==|SUMMARY|check failed|artifact_prefix|Test unit written)' || true
    if compgen -G "$artifacts/crash-*" >/dev/null || compgen -G "$artifacts/timeout-*" >/dev/null ||
        compgen -G "$artifacts/leak-*" >/dev/null; then
        echo "$t: findings in $artifacts" >&2
        status=1
    fi
done
exit "${status:-0}"
