#!/usr/bin/env bash
# Installs the Debian packages listed in scripts/packages.txt for the purposes named
# (run, test; all of them when none is named) that are not installed yet. Does nothing
# (and says little) when everything is present.
#   scripts/install-deps.sh run        # building and running the player
#   scripts/install-deps.sh run test   # and the tests, benchmarks and fuzzing
set -euo pipefail

script_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
list="${script_dir}/packages.txt"

if [[ ! -r "$list" ]]; then
    echo "install-deps: cannot read $list" >&2
    exit 1
fi

wanted=" $* "
packages=()
purpose=""
while IFS= read -r line || [[ -n "$line" ]]; do
    line="${line%%#*}"
    if [[ "$line" =~ ^\[([a-z]+)\] ]]; then
        purpose="${BASH_REMATCH[1]}"
        continue
    fi
    if [[ $# -gt 0 && "$wanted" != *" $purpose "* ]]; then
        continue
    fi
    for word in $line; do
        packages+=("$word")
    done
done < "$list"

missing=()
for pkg in "${packages[@]}"; do
    status="$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)"
    if [[ "$status" != "install ok installed" ]]; then
        missing+=("$pkg")
    fi
done

if [[ ${#missing[@]} -eq 0 ]]; then
    exit 0
fi

echo "install-deps: installing ${missing[*]}"

as_root=()
if [[ "$(id -u)" -ne 0 ]]; then
    if command -v sudo >/dev/null 2>&1; then
        as_root=(sudo)
    else
        echo "install-deps: not root and sudo is not available; install as root:" >&2
        echo "  apt-get install --no-install-recommends ${missing[*]}" >&2
        exit 1
    fi
fi

"${as_root[@]}" apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y --no-install-recommends "${missing[@]}"
