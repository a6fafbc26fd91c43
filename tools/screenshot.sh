#!/usr/bin/env bash
# Redraws docs/vindrel-window.png: the program's window on an Xvfb screen,
# as a first run with some recipients already remembered shows it.
# Needs xvfb and ImageMagick; run ./dev test (or ./dev run) first to build.
set -euo pipefail
cd "$(dirname "$0")/.."
exe=${1:-build/app/qt/vindrel}
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
printf '[Last%%20Values]\nTo="alice; pc42; bob"\n' >"$config/Vindrel.ini"
XDG_CONFIG_HOME=$config xvfb-run -a -s "-screen 0 640x480x24" bash -c '
  "$1" & pid=$!
  sleep 2
  import -window root "$2"
  kill "$pid"' _ "$exe" "$config/screen.png"
# The window sits in the top left corner of a black screen.
convert "$config/screen.png" -trim +repage docs/vindrel-window.png
rm -f "$config/screen.png"
echo docs/vindrel-window.png
