#!/bin/sh
# Starts tslcat under Xvfb on the sample catalog, runs a search through the
# window (xdotool), and saves a picture of the window.
#   scripts/screenshot.sh [OUTPUT.png]      (default docs/screenshot.png)
set -eu
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-docs/screenshot.png}")
scripts/install-deps.sh --gui
cmake --preset release >/dev/null
cmake --build --preset release -j 2 --target tslcat tslcat-cli tslcat-grabscreen
bin=$(pwd)/build/release/catalog
demo=build/screenshot-demo
rm -rf "$demo"
scripts/demo-catalog.sh "$bin/cli/tslcat-cli" "$demo"

display=:${SCREENSHOT_DISPLAY:-97}
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
app=""
trap 'kill $app $xvfb 2>/dev/null || true' EXIT INT TERM
export DISPLAY="$display"
tries=0
until [ -e "/tmp/.X11-unix/X${display#:}" ]; do
    tries=$((tries + 1)); [ $tries -lt 50 ] || { echo "screenshot: Xvfb did not start" >&2; exit 1; }
    sleep 0.1
done

(cd "$demo" && exec "$bin/gui/tslcat") &
app=$!
window=$(xdotool search --sync --name '^Tessaly-Catalog$' | head -n 1)
sleep 1
# Without a window manager the keyboard follows the pointer.  Search for
# text files, open the first disc in the tree and pick a result row.
xdotool mousemove --window "$window" 342 456 click 1
xdotool type --delay 20 '\.txt$'
xdotool key Return
sleep 0.5
xdotool mousemove --window "$window" 60 26 click --repeat 2 --delay 80 1
sleep 0.3
xdotool mousemove --window "$window" 420 66 click 1
sleep 0.5
mkdir -p "$(dirname "$out")"
"$bin/gui/tslcat-grabscreen" "$out" "$window"
echo "screenshot: $out"
