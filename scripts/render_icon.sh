#!/usr/bin/env bash
# Renders the program icon src/forms/icons/marlet.svg into the committed files
# beside it:
#   marlet-16.png ... marlet-256.png  RGBA PNGs for the desktop icon theme
#                                     (16, 32, 64, 128 and 256 pixels)
#   marlet-48.png                     48x48, quantised to a 256-colour palette
#   marlet.ico                        Windows icon: 48x48 256-colour (on/off
#                                     transparency), 48x48, 32x32 and 16x16 RGBA
# The output is deterministic: running the script twice gives the same bytes.
# Tools (Debian packages): rsvg-convert (librsvg2-bin), pngquant, icotool
# (icoutils). They are listed in scripts/packages.txt; when one is missing and
# the script runs as root, it installs them with apt-get.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
icons="${root}/src/forms/icons"
svg="${icons}/marlet.svg"

need_install=0
for tool in rsvg-convert pngquant icotool; do
    command -v "$tool" >/dev/null 2>&1 || need_install=1
done
if [[ $need_install -eq 1 ]]; then
    packages=(librsvg2-bin pngquant icoutils)
    if [[ "$(id -u)" -eq 0 ]] && command -v apt-get >/dev/null 2>&1; then
        echo "render_icon: installing ${packages[*]}"
        apt-get update
        DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${packages[@]}"
    else
        echo "render_icon: needs rsvg-convert, pngquant and icotool; install as root:" >&2
        echo "  apt-get install --no-install-recommends ${packages[*]}" >&2
        exit 1
    fi
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

render() { # render SVG SIZE OUT
    rsvg-convert --width "$2" --height "$2" --format png --output "$3" "$1"
}

# Theme sizes: straight RGBA renders.
for size in 16 32 64 128 256; do
    render "$svg" "$size" "${icons}/marlet-${size}.png"
done

# 48x48: rendered at its drawing size, then quantised to a 256-colour palette
# (with per-entry alpha, so the edges stay smooth).
render "$svg" 48 "${work}/rgba-48.png"
pngquant 256 --speed 1 --strip --force --output "${icons}/marlet-48.png" -- "${work}/rgba-48.png"

# The ICO's 256-colour image cannot hold partial transparency, so its disc is
# drawn without anti-aliasing (shape-rendering="crispEdges" on the disc group):
# each pixel is then fully opaque or fully transparent, and only the inside
# stays smooth.
sed 's/<g id="disc">/<g id="disc" shape-rendering="crispEdges">/' "$svg" > "${work}/crisp.svg"
if ! grep -q 'shape-rendering="crispEdges"' "${work}/crisp.svg"; then
    echo "render_icon: marlet.svg has no <g id=\"disc\"> group" >&2
    exit 1
fi
render "${work}/crisp.svg" 48 "${work}/crisp-48.png"
pngquant 256 --speed 1 --strip --force --output "${work}/palette-48.png" -- "${work}/crisp-48.png"

icotool --create --output="${icons}/marlet.ico" \
    --bit-depth=8 "${work}/palette-48.png" \
    --bit-depth=32 "${work}/rgba-48.png" "${icons}/marlet-32.png" "${icons}/marlet-16.png" \
    2> "${work}/icotool.log" || { cat "${work}/icotool.log" >&2; exit 1; }
# icotool only warns when it cannot store the palette image at 8 bits; make it an error.
if ! icotool --list "${icons}/marlet.ico" | grep -q -- '--width=48 --height=48 --bit-depth=8 '; then
    cat "${work}/icotool.log" >&2
    echo "render_icon: the ICO has no 48x48 256-colour image" >&2
    exit 1
fi

echo "render_icon: wrote marlet-{16,32,48,64,128,256}.png and marlet.ico in ${icons#"$root"/}"
