#!/usr/bin/env bash
# Every lossy format on every core. End to end from the one-hour video, at the settings' defaults (MP3
# 128 kbps CBR quality Normal; M4A 160 kbps; Opus 96 kbps audio; Ogg Vorbis managed 128 kbps), side by side
# in one run: quillet-cli as it runs (step 2 in segments on the free cores), quillet-cli pinned to one core
# with taskset (one encoder, as before segments), and ffmpeg's single encoder at the same settings. Goals: on
# two cores at most 0.55x ffmpeg; on one core no slower than before; peak RSS of quillet-cli under 100 MB.
# CPU seconds (user + system) are printed beside the wall times: on a machine others load, a parallel
# speed-up reads low in wall time while the CPU seconds still tell the work. Opus: ffmpeg takes the 48 kHz
# source as it is, while Quillet's step 1 goes through 44.1 kHz, as for every format. Then MP3 throughput:
# eight one-minute sources with -j 2 against -j 1. Goal: at most 0.60x. Rounds alternate, so every contender
# sees the same moments of the machine. BENCH_ROUNDS (default 2), BENCH_FORMATS (default "mp3 m4a opus ogg")
# and BENCH_SOURCE (another source, for a quick look).
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
. "$(dirname "$0")/media.sh"
src=${BENCH_SOURCE:-$(bench_hour_source "$build")}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
printf '[General]\nTempPath=%s/tmp/\n[mp3]\nBitreate Index=8\nQuality Index=0\nVBR Quality Index=0\n' "$out" >"$out/s.ini"
cli=("$build/bin/quillet-cli" -q --settings "$out/s.ini" --overwrite) # the rounds write the same files
rounds=${BENCH_ROUNDS:-2}

# Wall seconds, peak RSS in kB and CPU seconds (user + system) of a command, "seconds kB cpu"; fails when
# the command fails.
measure() {
    local log
    log=$(mktemp)
    /usr/bin/time -f "%e %M %U %S" -o "$log" "$@" >/dev/null 2>&1 || { rm -f "$log"; return 1; }
    tail -n 1 "$log" | awk '{ printf "%s %s %.2f\n", $1, $2, $3 + $4 }'
    rm -f "$log"
}

ffmpeg_args() {
    case $1 in
    mp3) echo -ar 44100 -c:a libmp3lame -b:a 128k -compression_level 5 -reservoir 0 ;;
    m4a) echo -ar 44100 -c:a aac -b:a 160k ;;
    opus) echo -c:a libopus -b:a 96k -application audio ;;
    ogg) echo -ar 44100 -c:a libvorbis -b:a 128k -minrate 128k -maxrate 128k ;;
    esac
}

cores=$(nproc)
printf '%-4s | %-22s | %-22s | %-22s | %-5s | %-9s | %-8s\n' format "$cores cores s (CPU s)" "1 core s (CPU s)" \
    "ffmpeg s (CPU s)" ratio "CPU ratio" "peak RSS"
for f in ${BENCH_FORMATS:-mp3 m4a opus ogg}; do
    all="" one="" theirs="" rss="" same="" cpuAll="" cpuOne="" cpuTheirs=""
    for ((round = 0; round < rounds; round++)); do
        sync
        read -r t kb cpu < <(measure "${cli[@]}" -f "$f" -o "$out/all.$f" "$src")
        all=$(min "$all" "$t")
        rss=$(max "$rss" "$kb")
        cpuAll=$(min "$cpuAll" "$cpu")
        sync
        read -r t kb cpu < <(measure taskset -c 0 "${cli[@]}" -f "$f" -o "$out/one.$f" "$src")
        one=$(min "$one" "$t")
        rss=$(max "$rss" "$kb")
        cpuOne=$(min "$cpuOne" "$cpu")
        sync
        # shellcheck disable=SC2046
        read -r t kb cpu < <(measure ffmpeg -nostdin -y -i "$src" -vn -ac 2 $(ffmpeg_args "$f") "$out/ff.$f")
        theirs=$(min "$theirs" "$t")
        cpuTheirs=$(min "$cpuTheirs" "$cpu")
        cmp -s "$out/all.$f" "$out/one.$f" && same=yes || same=no
        rm -f "$out"/*."$f"
    done
    printf '%-4s | %8.2f (%8.2f)    | %8.2f (%8.2f)    | %8.2f (%8.2f)    | %5s | %9s | %5d MB\n' "$f" "$all" \
        "$cpuAll" "$one" "$cpuOne" "$theirs" "$cpuTheirs" "$(ratio "$all" "$theirs")" \
        "$(ratio "$cpuAll" "$cpuTheirs")" "$((rss / 1024))"
    [[ $f == mp3 ]] && echo "mp3  file in segments identical to one encoder's: $same"
done
echo "goals: ratio (wall, $cores cores against ffmpeg) <= 0.55x; 1 core no slower than before; peak RSS < 100 MB"

# Eight one-minute sources, cut from the hour without re-encoding.
clips=()
for i in 0 1 2 3 4 5 6 7; do
    ffmpeg -nostdin -v error -y -ss $((i * 60 + 30)) -t 60 -i "$src" -c copy "$out/clip$i.mp4"
    clips+=("$out/clip$i.mp4")
done
j1="" j2="" cpu1="" cpu2=""
for round in 1 2 3; do
    sync
    read -r t kb cpu < <(measure "${cli[@]}" -f mp3 -j 1 "${clips[@]}")
    j1=$(min "$j1" "$t")
    cpu1=$(min "$cpu1" "$cpu")
    rm -f "$out"/clip*_OUTPUT*.mp3
    sync
    read -r t kb cpu < <(measure "${cli[@]}" -f mp3 -j 2 "${clips[@]}")
    j2=$(min "$j2" "$t")
    cpu2=$(min "$cpu2" "$cpu")
    rm -f "$out"/clip*_OUTPUT*.mp3
done
printf 'mp3  8 one-minute sources: -j 2 %6.2f s, -j 1 %6.2f s, ratio %sx (goal <= 0.60x); CPU seconds %.2f and %.2f\n' \
    "$j2" "$j1" "$(ratio "$j2" "$j1")" "$cpu2" "$cpu1"
