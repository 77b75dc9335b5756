#!/bin/bash
# Pictures of the panels with three real clients, taken from a private Xvfb:
#   quickbar-vertical.png    bar on the left: one client placed, one paused and one running
#                            on the bar (on-screen, paused and pulsing running glows)
#   region-selector.png      the same screen after a long press on the first element
#   quickbar-horizontal.png  the same clients with the bar along the top edge
#
# Usage: tests/screenshots/panels.sh [BUILD_DIR] [OUT_DIR]
# Needs Xvfb, xwd, convert (imagemagick) and xdotool; BUILD_DIR must hold vorlane_application
# and the test probe (tests/e2e/probe/vorlane_probe).
set -euo pipefail

build=$(realpath "${1:-build}")
out=$(realpath -m "${2:-$build/screenshots}")
app="$build/application/vorlane_application"
probe="$build/tests/e2e/probe/vorlane_probe"
for tool in Xvfb xwd convert xdotool; do
    command -v "$tool" > /dev/null || { echo "missing: $tool" >&2; exit 1; }
done
[ -x "$app" ] && [ -x "$probe" ] || { echo "build $app and $probe first" >&2; exit 1; }
mkdir -p "$out"

work=$(mktemp -d)
runtime=$(mktemp -d)
chmod 700 "$runtime"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2> /dev/null || true
        kill -CONT "$pid" 2> /dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2> /dev/null || true
    done
    rm -rf "$work" "$runtime"
}
trap cleanup EXIT

mkdir -p "$work/layouts" "$work/clients"
cat > "$work/layouts/layouts.json" << 'JSON'
{"layouts": [
  {"id": "main", "name": "Main", "defaultRegion": "left", "regions": [
    {"id": "left", "name": "Left", "x": 0, "y": 0, "width": 0.5, "height": 1, "regions": []},
    {"id": "right", "name": "Right", "x": 0.5, "y": 0, "width": 0.5, "height": 1, "regions": [
      {"id": "rightTop", "name": "Right top", "x": 0, "y": 0, "width": 1, "height": 0.5, "regions": []},
      {"id": "rightBottom", "name": "Right bottom", "x": 0, "y": 0.5, "width": 1, "height": 0.5, "regions": []}
    ]}
  ]},
  {"id": "full", "name": "Full", "defaultRegion": "all", "regions": [
    {"id": "all", "name": "All", "x": 0, "y": 0, "width": 1, "height": 1, "regions": []}
  ]}
]}
JSON

# Three copies of the probe, told apart by their executables.
entry() { # file name, program, extra settings
    cp "$probe" "$work/$2"
    printf '[Desktop Entry]\nName=%s\nTryExec=%s\nExec=%s\n\n[X-KXVorlane Settings]\n%b\n' \
        "$1" "$work/$2" "$work/$2" "$3" > "$work/clients/$2.desktop"
}
entry "Editor" probe-red 'X-DefaultRegion=main:left'
entry "Player" probe-green 'X-DefaultRegion=main:rightTop\nX-WindowState=MINIMIZED\nX-MinimizedMode=PAUSED'
entry "Monitor" probe-blue 'X-DefaultRegion=main:rightBottom\nX-WindowState=MINIMIZED\nX-MinimizedMode=RUNNING'

# -displayfd picks a free display number and writes it to the given descriptor.
Xvfb -displayfd 3 -screen 0 800x480x24 -nolisten tcp 3> "$work/display" 2> /dev/null &
pids+=($!)
for _ in $(seq 200); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
export DISPLAY=":$(head -n1 "$work/display")"

start_compositor() { # quick bar position
    cat > "$work/config.ini" << INI
[Settings]
LayoutsDir=$work/layouts
ClientsDir=$work/clients
DefaultLayout=main
QuickBarPosition=$1
INI
    XDG_RUNTIME_DIR="$runtime" QT_QPA_PLATFORM=xcb "$app" -c "$work/config.ini" \
        2> "$work/compositor-$1.log" &
    compositor=$!
    pids+=($compositor)
    for _ in $(seq 200); do
        [ -S "$runtime/wayland-0" ] && break
        sleep 0.05
    done
    sleep 1
    for colour in red:ff0000 green:00a000 blue:0000ff; do
        WAYLAND_DISPLAY=wayland-0 XDG_RUNTIME_DIR="$runtime" \
            "$work/probe-${colour%%:*}" --color "${colour##*:}" > /dev/null &
        pids+=($!)
        sleep 0.5
    done
    sleep 2
}

stop_compositor() {
    kill "$compositor"
    wait "$compositor" 2> /dev/null || true
    rm -f "$runtime"/wayland-0*
}

shot() {
    xwd -root -silent | convert xwd:- "$out/$1"
    echo "$out/$1"
}

start_compositor LEFT
shot quickbar-vertical.png
# Hold the first element for longer than the 300 ms long press.
xdotool mousemove 48 80 mousedown 1 sleep 0.6 mouseup 1
sleep 1
shot region-selector.png
stop_compositor

start_compositor TOP
shot quickbar-horizontal.png
stop_compositor
