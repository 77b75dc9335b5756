#!/usr/bin/env bash
# Builds the compositor (installing missing Debian packages first) and runs it with the example
# configuration: in a window under X11 when DISPLAY is set, inside the running Wayland session
# when WAYLAND_DISPLAY is set, headless otherwise. Extra arguments go to the compositor.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/scripts/install-deps.sh"

cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$root/build" -j "$(nproc)" --target vorlane_application

if [ -z "${QT_QPA_PLATFORM:-}" ]; then
    if [ -n "${DISPLAY:-}" ]; then
        export QT_QPA_PLATFORM=xcb
    elif [ -n "${WAYLAND_DISPLAY:-}" ]; then
        export QT_QPA_PLATFORM=wayland
    else
        export QT_QPA_PLATFORM=offscreen
    fi
fi
if [ -z "${XDG_RUNTIME_DIR:-}" ] || [ ! -d "$XDG_RUNTIME_DIR" ]; then
    XDG_RUNTIME_DIR=$(mktemp -d)
    chmod 0700 "$XDG_RUNTIME_DIR"
    export XDG_RUNTIME_DIR
fi
echo "run: platform $QT_QPA_PLATFORM, clients connect with XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR"

# The example settings name their directories relative to examples/.
cd "$root/examples"
exec "$root/build/application/vorlane_application" -c config.ini "$@"
