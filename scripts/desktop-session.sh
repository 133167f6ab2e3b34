#!/usr/bin/env bash
# Runs a command inside a private desktop session: Xvfb on a free display, openbox,
# a private D-Bus session bus and a PulseAudio daemon with two null sinks
# ("marlet_out" for playback, "marlet_in" whose monitor is the recording source). Each sink
# is described by its name: two sinks that share a description ("Null Output") cannot be
# told apart by the name a client shows, and a client that opens the default device by
# that name would get the wrong one. Neither rewinds: a new stream would otherwise be
# mixed into audio the sink had already passed to its monitor, and a recording of the
# monitor would miss its start.
# Everything it starts is stopped by its process id when the command ends, whatever
# happens. The command's exit status is the script's.
# The sound server's process id is in DESKTOP_SESSION_PULSE_PID.
# Usage: scripts/desktop-session.sh COMMAND [ARG...]
set -euo pipefail

if (($# == 0)); then
    echo "usage: $0 COMMAND [ARG...]" >&2
    exit 2
fi

runtime=$(mktemp -d "${TMPDIR:-/tmp}/marlet-session.XXXXXX")
pids=()
stop_all() {
    local pid
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        pid=${pids[i]}
        kill -TERM "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$runtime"
}
trap stop_all EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

wait_for() { # seconds, then a command that succeeds once the service is up
    local deadline=$((SECONDS + $1))
    shift
    until "$@" >/dev/null 2>&1; do
        if ((SECONDS >= deadline)); then
            echo "desktop session: gave up waiting for: $*" >&2
            return 1
        fi
        sleep 0.1
    done
}

# Xvfb picks a free display number itself and writes it to the pipe.
exec {displayfd}<> <(:)
Xvfb -displayfd "$displayfd" -screen 0 1280x1024x24 -nolisten tcp -noreset \
    >"$runtime/xvfb.log" 2>&1 &
pids+=($!)
read -r -t 20 -u "$displayfd" display || { echo "desktop session: Xvfb did not start" >&2; cat "$runtime/xvfb.log" >&2; exit 1; }
exec {displayfd}>&-
export DISPLAY=":$display"

mkdir -m 700 "$runtime/xdg"
export XDG_RUNTIME_DIR="$runtime/xdg"
dbus-daemon --session --nofork --nopidfile --address="unix:path=$runtime/bus" \
    >"$runtime/dbus.log" 2>&1 &
pids+=($!)
export DBUS_SESSION_BUS_ADDRESS="unix:path=$runtime/bus"

openbox --sm-disable >"$runtime/openbox.log" 2>&1 &
pids+=($!)

export PULSE_SERVER="unix:$runtime/pulse"
pulseaudio -n --daemonize=no --exit-idle-time=-1 --disable-shm=yes --use-pid-file=no \
    -L "module-native-protocol-unix socket=$runtime/pulse auth-anonymous=1" \
    -L "module-null-sink sink_name=marlet_out norewinds=1 sink_properties=device.description=marlet_out" \
    -L "module-null-sink sink_name=marlet_in norewinds=1 sink_properties=device.description=marlet_in" \
    >"$runtime/pulse.log" 2>&1 &
pids+=($!)
export DESKTOP_SESSION_PULSE_PID=$! # for tests that stop the server to see it hang

wait_for 20 test -S "$runtime/bus"
wait_for 20 pactl info
wait_for 20 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"'
pactl set-default-sink marlet_out >/dev/null
pactl set-default-source marlet_in.monitor >/dev/null

export SDL_AUDIODRIVER=pulseaudio
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
set +e
"$@"
status=$?
set -e
exit "$status"
