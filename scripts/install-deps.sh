#!/usr/bin/env bash
# Installs the Debian packages Quillet needs to build, test and run, but only those missing.
# As root it installs them; otherwise it names the missing ones and fails.
# `install-deps.sh fuzz` adds what the libFuzzer targets need (clang and its runtime libraries).
set -euo pipefail

packages=(
    build-essential cmake make pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-qpa-plugins libgl-dev
    libavformat-dev libavcodec-dev libswresample-dev libavutil-dev
    libmpv-dev libmp3lame-dev libvorbis-dev libogg-dev libebur128-dev
    libgtest-dev
    fonts-dejavu-core
    ffmpeg mpg123 vorbis-tools time
    xvfb xauth
    help2man desktop-file-utils appstream shared-mime-info dpkg-dev file
)
if [[ "${1:-}" == fuzz ]]; then
    packages+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == *"install ok installed"* ]] || missing+=("$p")
done

[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -ne 0 ]]; then
    echo "Missing packages: ${missing[*]}" >&2
    echo "Install them with: sudo apt-get install ${missing[*]}" >&2
    exit 1
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# A fresh machine has no package lists yet; refresh them once before installing.
if ! apt-get install -y -q --no-install-recommends "${missing[@]}"; then
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
