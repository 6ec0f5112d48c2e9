#!/usr/bin/env bash
# Runs every benchmark script in bench/ against the build in $1.
set -euo pipefail
build="${1:-build}"
shopt -s nullglob
scripts=("$(dirname "$0")"/bench_*.sh)
if [[ ${#scripts[@]} -eq 0 ]]; then
    echo "No benchmarks yet."
    exit 0
fi
for s in "${scripts[@]}"; do
    echo "== $(basename "$s")"
    bash "$s" "$build"
done
