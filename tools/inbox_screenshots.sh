#!/usr/bin/env bash
# Redraws docs/vindrel-inbox-popup.png and docs/vindrel-inbox-history.png:
# vindrel-inbox on an Xvfb screen with a few messages in a temporary spool.
# Needs xvfb, xdotool and ImageMagick; build first (./dev test).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/spool" "$work/run" && chmod 700 "$work/run"

drop() {  # from, to, text
  printf '%s' "$3" >"$work/msg"
  "$build/app/drop/vindrel-drop" --spool "$work/spool" "$1" "$2" "$work/msg"
}

export XDG_RUNTIME_DIR=$work/run XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
  set -euo pipefail
  build=$1 work=$2
  shot() {  # window title, file
    id=$(xdotool search --sync --name "^$1\$" | head -1)
    import -window "$id" "$2"
  }
  "$build/app/inbox/vindrel-inbox" --spool "$work/spool" & pid=$!
  sleep 1
  '"$(declare -f drop)"'
  drop BOB DESK7 "Lunch at twelve? The café on the corner has a table for four.
Bring the minutes from Friday, please."
  sleep 1
  shot "Message from BOB" docs/vindrel-inbox-popup.png
  kill $pid; wait $pid || true

  drop ALICE DESK7 "Printer on the second floor is fixed."
  drop CAROL ALICE "Build 1.00 is out: see the share."
  "$build/app/inbox/vindrel-inbox" --spool "$work/spool" --history & pid=$!
  sleep 1.5
  for id in $(xdotool search --name "^Message from"); do xdotool windowunmap "$id"; done
  history=$(xdotool search --sync --name "^Vindrel messages\$" | head -1)
  xdotool windowmove "$history" 0 0 mousemove --window "$history" 120 62 click 1
  sleep 0.5
  shot "Vindrel messages" docs/vindrel-inbox-history.png
  kill $pid; wait $pid || true
' _ "$build" "$work"
echo docs/vindrel-inbox-popup.png docs/vindrel-inbox-history.png
