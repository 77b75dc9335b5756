#!/usr/bin/env bash
# The demo: installs the Debian packages that are missing, builds the program, starts the
# compositor with the example configuration and then a few example clients in it.
#
# - DISPLAY set: the compositor opens a window on that X server.
# - WAYLAND_DISPLAY set: the compositor opens a window in that Wayland session.
# - neither (or VORLANE_DEMO_HEADLESS=1): it runs on a private Xvfb display, and once the clients
#   are connected a screenshot is written and its path printed.
#
# Ctrl+C (or SIGTERM) ends the demo: the compositor is stopped with SIGTERM, which makes it ask
# its clients to quit; clients still running after that are ended too.
#
# Environment:
#   VORLANE_DEMO_CLIENTS   desktop entries of examples/clients to start (default: terminal pattern clock)
#   VORLANE_SCREENSHOT     where the headless screenshot goes (default: build/screenshot.png)
#   VORLANE_DEMO_SECONDS   end the demo by itself after this many seconds (default: run until Ctrl+C)
#   VORLANE_DEMO_HEADLESS  1: use Xvfb even when a display is available
#   VORLANE_DEMO_TAP       X,Y: headless, a tap at this point of the screen before the screenshot
# Extra arguments go to the compositor, e.g. -d or -o 90.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
examples=$root/examples
build=$root/build
clients=${VORLANE_DEMO_CLIENTS:-terminal pattern clock}
screenshot=${VORLANE_SCREENSHOT:-$build/screenshot.png}
seconds=${VORLANE_DEMO_SECONDS:-0}

say() { echo "run: $*" || true; }

bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target vorlane_application
program=$build/application/vorlane_application

# --- state and clean-up ----------------------------------------------------------------------

work=$(mktemp -d)
runtime=$work/runtime
mkdir -m 0700 "$runtime"
compositor_pid=
xvfb_pid=
client_pids=()

alive() { [ -n "$1" ] && kill -0 "$1" 2>/dev/null; }

# Waits up to $2 tenths of a second for process $1 to end.
wait_gone() {
    local pid=$1 tenths=$2
    while alive "$pid" && [ "$tenths" -gt 0 ]; do
        sleep 0.1
        tenths=$((tenths - 1))
    done
    ! alive "$pid"
}

cleanup() {
    trap - EXIT INT TERM HUP
    # Finish cleaning up even when the terminal or a pipe reading our output is gone; the shell's
    # notices about clients ended by the quit signal are expected here.
    trap '' PIPE
    exec 2>/dev/null
    if alive "$compositor_pid"; then
        say "stopping the compositor; it asks its clients to quit"
        kill -TERM "$compositor_pid" 2>/dev/null || true
        wait_gone "$compositor_pid" 100 || kill -KILL "$compositor_pid" 2>/dev/null || true
    fi
    local pid
    for pid in "${client_pids[@]}"; do
        # A client paused while minimised cannot act on a signal until it is continued.
        kill -CONT "$pid" 2>/dev/null || true
        wait_gone "$pid" 20 && continue
        kill -TERM "$pid" 2>/dev/null || true
        wait_gone "$pid" 30 || kill -KILL "$pid" 2>/dev/null || true
    done
    if alive "$xvfb_pid"; then
        kill -TERM "$xvfb_pid" 2>/dev/null || true
        wait_gone "$xvfb_pid" 30 || kill -KILL "$xvfb_pid" 2>/dev/null || true
    fi
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# --- the compositor ----------------------------------------------------------------------------

compositor_env=(env -u WAYLAND_SOCKET)
compositor_vars=(XDG_RUNTIME_DIR="$runtime")
headless=0
if [ "${VORLANE_DEMO_HEADLESS:-0}" = 1 ] || { [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; }; then
    headless=1
    if ! command -v Xvfb >/dev/null; then
        echo "run: Xvfb is missing (package xvfb)" >&2
        exit 1
    fi
    # Xvfb picks a free display number and reports it. It gets a session of its own, so that
    # Ctrl+C reaches only the compositor and this script, and the display outlives both.
    setsid Xvfb -displayfd 3 -screen 0 800x480x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [ -s "$work/display" ] && break
        alive "$xvfb_pid" || break
        sleep 0.1
    done
    if [ ! -s "$work/display" ]; then
        echo "run: Xvfb did not start:" >&2
        cat "$work/xvfb.log" >&2
        exit 1
    fi
    display=:$(head -n1 "$work/display")
    compositor_env+=(-u WAYLAND_DISPLAY)
    compositor_vars+=(DISPLAY="$display" QT_QPA_PLATFORM=xcb)
    say "headless on the private X display $display"
elif [ -n "${DISPLAY:-}" ]; then
    compositor_env+=(-u WAYLAND_DISPLAY)
    compositor_vars+=(QT_QPA_PLATFORM=xcb)
    say "in a window on the X display $DISPLAY"
else
    # The compositor is a client of the running session, whose socket lives in the session's
    # runtime directory; its own socket goes into the private one.
    session=$WAYLAND_DISPLAY
    case $session in
    /*) ;;
    *) session=${XDG_RUNTIME_DIR:-/run/user/$(id -u)}/$session ;;
    esac
    compositor_vars+=(WAYLAND_DISPLAY="$session" QT_QPA_PLATFORM=wayland)
    say "in a window of the Wayland session $WAYLAND_DISPLAY"
fi

# The example settings name their directories relative to examples/.
(cd "$examples" && exec "${compositor_env[@]}" "${compositor_vars[@]}" "$program" -c config.ini "$@") &
compositor_pid=$!

socket=$runtime/wayland-0
for _ in $(seq 300); do
    [ -S "$socket" ] && break
    alive "$compositor_pid" || break
    sleep 0.1
done
if ! [ -S "$socket" ] || ! alive "$compositor_pid"; then
    echo "run: the compositor did not open its socket" >&2
    exit 1
fi
say "compositor $compositor_pid listens on $socket"

# --- the clients -------------------------------------------------------------------------------

# A client's command is the Exec line of its desktop entry; the entries name their files by the
# installed configuration directory, which is examples/ here.
ulimit -c 0 # SIGQUIT, with which the compositor ends its clients, would otherwise dump cores
for name in $clients; do
    entry=$examples/clients/$name.desktop
    if [ ! -f "$entry" ]; then
        echo "run: no desktop entry $entry" >&2
        exit 1
    fi
    exec_line=$(sed -n 's/^Exec[[:space:]]*=[[:space:]]*//p' "$entry" | head -n1)
    exec_line=${exec_line//\/etc\/vorlane\//$examples/}
    read -r -a command <<<"$exec_line"
    # In a session of its own, like Xvfb: on Ctrl+C the compositor asks it to quit.
    (cd "$examples" && exec setsid env -u DISPLAY -u WAYLAND_SOCKET XDG_RUNTIME_DIR="$runtime" \
        WAYLAND_DISPLAY=wayland-0 QT_QPA_PLATFORM=wayland "${command[@]}" >"$work/$name.log" 2>&1) &
    client_pids+=($!)
    say "client $name: ${command[*]} (pid $!)"
done

# Connected clients: server-side sockets bound to the compositor's socket path.
connected() { awk -v path="$socket" '$8 == path && $6 == "03"' /proc/net/unix | wc -l; }

if [ "$headless" = 1 ]; then
    for _ in $(seq 300); do
        [ "$(connected)" -ge "${#client_pids[@]}" ] && break
        alive "$compositor_pid" || break
        sleep 0.1
    done
    # Give the clients time to draw their first frames at the size of their regions (the
    # terminal's shell prompt takes the longest).
    sleep 5
    if [ -n "${VORLANE_DEMO_TAP:-}" ]; then
        # A tap on a point of the screen first, e.g. on the clock's note to bring up the
        # on-screen keyboard.
        window=$(DISPLAY=$display xdotool search --onlyvisible --pid "$compositor_pid" --name . | head -n1)
        DISPLAY=$display xdotool windowfocus --sync "$window" \
            mousemove "${VORLANE_DEMO_TAP%,*}" "${VORLANE_DEMO_TAP#*,}" click 1
        sleep 2
    fi
    mkdir -p "$(dirname "$screenshot")"
    convert=convert
    [ -x /usr/bin/convert ] && convert=/usr/bin/convert
    if xwd -root -silent -display "$display" | "$convert" xwd:- "png:$screenshot"; then
        say "screenshot: $screenshot"
    else
        echo "run: the screenshot failed" >&2
    fi
fi

if [ "$seconds" -gt 0 ]; then
    say "running for $seconds seconds"
    end=$((SECONDS + seconds))
    while [ "$SECONDS" -lt "$end" ] && alive "$compositor_pid"; do
        sleep 0.5
    done
else
    say "running; Ctrl+C ends the demo"
    while alive "$compositor_pid"; do
        sleep 0.5
    done
fi
if ! alive "$compositor_pid"; then
    wait "$compositor_pid" && status=0 || status=$?
    say "the compositor ended with status $status"
fi
