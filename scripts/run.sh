#!/usr/bin/env bash
# Starts Quillet from the build's program directory; without a display it starts one under Xvfb.
set -euo pipefail
bin="${1:-build}/bin"
if [[ ! -x "$bin/quillet" ]]; then
    echo "The Quillet window is not built yet. Built so far in $bin:" >&2
    ls "$bin" >&2
    exit 0
fi
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    echo "No display: starting Quillet under Xvfb (xvfb-run)." >&2
    exec xvfb-run -a -s "-screen 0 1280x800x24" "$bin/quillet"
fi
exec "$bin/quillet"
