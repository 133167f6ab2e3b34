#!/usr/bin/env bash
# "Show" under a window manager with every core busy: how many of 20 runs reach the
# grown height (434 px outer, the first at least 6,500 twips) and how long it takes.
# Runs inside scripts/desktop-session.sh. Usage: bench/show_animation.sh MARLET [RUNS]
set -euo pipefail
marlet=$1
runs=${2:-20}

hogs=()
player=
cleanup() {
    [[ -n $player ]] && kill "$player" 2>/dev/null && wait "$player" 2>/dev/null
    for pid in "${hogs[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq "$(nproc)"); do
    sh -c 'while :; do :; done' &
    hogs+=($!)
done

outer_height() {
    local client extents
    client=$(xwininfo -id "$1" | awk '/Height:/ { print $2 }')
    extents=$(xprop -id "$1" _NET_FRAME_EXTENTS | sed 's/.*= //')
    IFS=', ' read -r _ _ top bottom <<<"$extents"
    echo $((client + top + bottom))
}

reached=0
times=()
for run in $(seq "$runs"); do
    "$marlet" >/dev/null 2>&1 &
    player=$!
    window=$(xdotool search --sync --onlyvisible --name "^Quendel's Marlet\$" | head -n 1)
    sleep 0.5
    start=$(date +%s%N)
    xdotool mousemove --window "$window" 76 152 click 1
    height=0
    while ((height < 434 && $(date +%s%N) - start < 10000000000)); do
        height=$(outer_height "$window")
    done
    end=$(date +%s%N)
    if ((height >= 434)); then
        reached=$((reached + 1))
        times+=($(((end - start) / 1000000)))
    fi
    kill "$player"
    wait "$player" 2>/dev/null || true
    player=
done
median=$(printf '%s\n' "${times[@]:-0}" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')
echo "show_reaches_limit_runs: $reached/$runs (openbox, $(nproc) busy loops beside)"
echo "show_animation_ms: $median (median press to full height, reached runs)"
