#!/usr/bin/env bash
# Redraws docs/vindrel-inbox-popup.png, docs/vindrel-inbox-history.png and
# docs/vindrel-inbox-notification.png: vindrel-inbox on an Xvfb screen with a
# few messages in a temporary spool, its pop-up window, its history, and a
# message as dunst (a real notification server) shows it, over a session bus
# of the script's own. Needs xvfb, xdotool, ImageMagick, dbus-daemon and
# dunst; build first (./dev test). Everything it starts, it ends.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/spool" "$work/run" "$work/icons" && chmod 700 "$work/run"
cp resources/icons/vindrel-32.png "$work/icons/vindrel.png"
cat >"$work/dunstrc" <<RC
[global]
    font = DejaVu Sans 10
    width = 380
    origin = top-right
    offset = 12x12
    icon_path = $work/icons
    max_icon_size = 32
    frame_width = 1
    frame_color = "#8f8f8f"
    background = "#f4f4f4"
    foreground = "#202020"
    markup = full
    format = "<b>%s</b>\n%b"
RC

drop() {  # from, to, text
  printf '%s' "$3" >"$work/msg"
  "$build/app/drop/vindrel-drop" --spool "$work/spool" "$1" "$2" "$work/msg"
}

export XDG_RUNTIME_DIR=$work/run XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
# No session bus but the one started below: nothing started on demand.
export DBUS_SESSION_BUS_ADDRESS=disabled:
xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
  set -euo pipefail
  build=$1 work=$2
  shot() {  # window title, file
    id=$(xdotool search --sync --name "^$1\$" | head -1)
    import -window "$id" "$2"
  }
  # Run in the background only: the job is then the inbox itself.
  inbox() { exec "$build/app/inbox/vindrel-inbox" --spool "$work/spool" --service-socket "$work/none" "$@"; }
  mkdir -p "$XDG_CONFIG_HOME/vindrel"
  printf "[General]\nshow%%20messages%%20as=windows\n" >"$XDG_CONFIG_HOME/vindrel/inbox.ini"
  inbox & pid=$!
  sleep 1
  '"$(declare -f drop)"'
  drop BOB DESK7 "Lunch at twelve? The café on the corner has a table for four.
Bring the minutes from Friday, please."
  sleep 1
  shot "Message from .*BOB.*" docs/vindrel-inbox-popup.png
  kill $pid; wait $pid || true

  drop ALICE DESK7 "Printer on the second floor is fixed."
  drop CAROL ALICE "Build 1.00 is out: see the share."
  inbox --history & pid=$!
  sleep 1.5
  for id in $(xdotool search --name "^Message from"); do xdotool windowunmap "$id"; done
  history=$(xdotool search --sync --name "^Vindrel messages\$" | head -1)
  xdotool windowmove "$history" 0 0 mousemove --window "$history" 120 96 click 1
  sleep 0.5
  shot "Vindrel messages" docs/vindrel-inbox-history.png
  kill $pid; wait $pid || true

  # The same inbox with notifications, shown by dunst.
  rm -f "$XDG_CONFIG_HOME/vindrel/inbox.ini" "$XDG_DATA_HOME/vindrel/inbox-state"
  rm -f "$work/spool"/*.msg
  dbus-daemon --config-file=tests/inbox/session-bus.conf --nofork --print-address=4 \
    4>"$work/bus" 2>/dev/null & bus=$!
  while [ ! -s "$work/bus" ]; do sleep 0.05; done
  export DBUS_SESSION_BUS_ADDRESS=$(head -1 "$work/bus")
  dunst -config "$work/dunstrc" >/dev/null 2>&1 & dunst=$!
  sleep 0.5
  inbox & pid=$!
  sleep 1
  drop ALICE DESK7 "The meeting moved to room 4 at 3 pm. Bring the <draft> & the figures."
  sleep 1
  id=$(xdotool search --sync --class Dunst | head -1)
  import -window "$id" docs/vindrel-inbox-notification.png
  kill $pid $dunst $bus; wait $pid $dunst $bus || true
' _ "$build" "$work"
echo docs/vindrel-inbox-popup.png docs/vindrel-inbox-history.png docs/vindrel-inbox-notification.png
