#!/usr/bin/env bash
# MP3 on every core. End to end from the one-hour video (128 kbps CBR, quality Normal): quillet-cli as it
# runs (step 2 in segments on the free cores) and pinned to one core with taskset, against ffmpeg +
# libmp3lame's single pass at the same settings; peak RSS of quillet-cli. Goals: at most 0.55x on two
# cores, peak RSS under 100 MB. Then throughput: eight one-minute sources with -j 2 against -j 1.
# Goal: at most 0.60x. Rounds alternate, so every contender sees the same moments of the machine.
set -euo pipefail
build="$(cd "${1:-build}" && pwd)"
. "$(dirname "$0")/media.sh"
src=$(bench_hour_source "$build")
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
printf '[General]\nTempPath=%s/tmp/\n[mp3]\nBitreate Index=8\nQuality Index=0\nVBR Quality Index=0\n' "$out" >"$out/s.ini"
cli=("$build/bin/quillet-cli" -q --settings "$out/s.ini" -f mp3 --overwrite) # the rounds write the same files

# Wall seconds, peak RSS in kB and CPU seconds (user + system) of a command, "seconds kB cpu"; fails when
# the command fails. On a loaded machine the CPU seconds tell the work apart from the waiting.
measure() {
    local log
    log=$(mktemp)
    /usr/bin/time -f "%e %M %U %S" -o "$log" "$@" >/dev/null 2>&1 || { rm -f "$log"; return 1; }
    tail -n 1 "$log" | awk '{ printf "%s %s %.2f\n", $1, $2, $3 + $4 }'
    rm -f "$log"
}

cores=$(nproc)
all="" one="" theirs="" rss="" same="" cpuAll="" cpuOne="" cpuTheirs=""
for round in 1 2; do
    sync
    read -r t kb cpu < <(measure "${cli[@]}" -o "$out/all.mp3" "$src")
    all=$(min "$all" "$t")
    rss=$(max "$rss" "$kb")
    cpuAll=$(min "$cpuAll" "$cpu")
    sync
    read -r t kb cpu < <(measure taskset -c 0 "${cli[@]}" -o "$out/one.mp3" "$src")
    one=$(min "$one" "$t")
    cpuOne=$(min "$cpuOne" "$cpu")
    sync
    read -r t kb cpu < <(measure ffmpeg -nostdin -y -i "$src" -vn -ac 2 -ar 44100 -c:a libmp3lame -b:a 128k \
        -compression_level 5 -reservoir 0 "$out/ff.mp3")
    theirs=$(min "$theirs" "$t")
    cpuTheirs=$(min "$cpuTheirs" "$cpu")
    cmp -s "$out/all.mp3" "$out/one.mp3" && same=yes || same=no
    rm -f "$out"/*.mp3
done
printf 'mp3  end to end, %d cores: quillet-cli %7.2f s, ffmpeg %7.2f s, ratio %sx (goal <= 0.55x)\n' \
    "$cores" "$all" "$theirs" "$(ratio "$all" "$theirs")"
printf 'mp3  end to end, 1 core:  quillet-cli %7.2f s, ffmpeg %7.2f s, ratio %sx (taskset -c 0)\n' \
    "$one" "$theirs" "$(ratio "$one" "$theirs")"
printf 'mp3  CPU seconds: quillet-cli %.2f (%d cores), %.2f (1 core); ffmpeg %.2f\n' \
    "$cpuAll" "$cores" "$cpuOne" "$cpuTheirs"
printf 'mp3  peak RSS of quillet-cli: %d MB (goal < 100 MB); file in segments identical to one encoder'"'"'s: %s\n' \
    "$((rss / 1024))" "$same"

# Eight one-minute sources, cut from the hour without re-encoding.
clips=()
for i in 0 1 2 3 4 5 6 7; do
    ffmpeg -nostdin -v error -y -ss $((i * 60 + 30)) -t 60 -i "$src" -c copy "$out/clip$i.mp4"
    clips+=("$out/clip$i.mp4")
done
j1="" j2="" cpu1="" cpu2=""
for round in 1 2 3; do
    sync
    read -r t kb cpu < <(measure "${cli[@]}" -j 1 "${clips[@]}")
    j1=$(min "$j1" "$t")
    cpu1=$(min "$cpu1" "$cpu")
    rm -f "$out"/clip*_OUTPUT*.mp3
    sync
    read -r t kb cpu < <(measure "${cli[@]}" -j 2 "${clips[@]}")
    j2=$(min "$j2" "$t")
    cpu2=$(min "$cpu2" "$cpu")
    rm -f "$out"/clip*_OUTPUT*.mp3
done
printf 'mp3  8 one-minute sources: -j 2 %6.2f s, -j 1 %6.2f s, ratio %sx (goal <= 0.60x); CPU seconds %.2f and %.2f\n' \
    "$j2" "$j1" "$(ratio "$j2" "$j1")" "$cpu2" "$cpu1"
