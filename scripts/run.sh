#!/usr/bin/env bash
# Starts Quillet from the build's program directory; without a display it starts one under Xvfb.
set -euo pipefail
bin="${1:-build}/bin"
if [[ ! -x "$bin/quillet" ]]; then
    echo "The Quillet window is not built yet (no $bin/quillet); build it with make run or make build." >&2
    exit 1
fi
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    echo "No display: starting Quillet under Xvfb (xvfb-run)." >&2
    exec xvfb-run -a -s "-screen 0 1280x800x24" "$bin/quillet"
fi
exec "$bin/quillet"
