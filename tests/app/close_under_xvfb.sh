#!/usr/bin/env bash
# Starts quillmark as a real window on a virtual X display with a window
# manager, clicks the close button of its title bar, and checks that it
# quits cleanly. Usage: close_under_xvfb.sh QUILLMARK [SCREENSHOT_DIR]
set -euo pipefail

app=$1
shots=${2:-}
for tool in xvfb-run xdotool xwininfo openbox; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed"
    exit 77
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run QUILLMARK_DATA_DIR=$work/data
mkdir -p "$XDG_RUNTIME_DIR" "$QUILLMARK_DATA_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
# A video copy left by a preview: quitting deletes it.
echo "video" >"$QUILLMARK_DATA_DIR/tmp.avi"

cat >"$work/session.sh" <<'SESSION'
set -euo pipefail
app=$1 shots=$2 work=$3
openbox --sm-disable >/dev/null 2>&1 &
sleep 1
"$app" >"$work/app.log" 2>&1 &
pid=$!
# The window should be up within seconds; say so at once when it never
# comes (a copy that took this display for another one's quits at start).
window=
for _ in $(seq 300); do
  if ! kill -0 "$pid" 2>/dev/null; then
    wait "$pid" && status=0 || status=$?
    echo "FAIL: quillmark ended (status $status) before its window appeared:"
    cat "$work/app.log"
    exit 1
  fi
  window=$(xdotool search --onlyvisible --name '^Quillmark Free$' 2>/dev/null | head -1 || true)
  [[ -n $window ]] && break
  sleep 0.1
done
if [[ -z $window ]]; then
  echo "FAIL: quillmark's window did not appear within 30 s on display $DISPLAY:"
  cat "$work/app.log"
  kill "$pid"
  exit 1
fi
sleep 1
[[ -n $shots ]] && import -window root "$shots/quillmark-under-xvfb.png"
# Openbox draws the close button at the right end of the title bar, just
# above the window's own top-right corner.
info=$(xwininfo -id "$window")
x=$(awk '/Absolute upper-left X/ {print $4}' <<<"$info")
y=$(awk '/Absolute upper-left Y/ {print $4}' <<<"$info")
width=$(awk '/Width:/ {print $2}' <<<"$info")
xdotool mousemove $((x + width - 10)) $((y - 10)) click 1
for _ in $(seq 100); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
  echo "quillmark did not quit after its close button was clicked"
  kill "$pid"
  exit 1
fi
wait "$pid" && status=0 || status=$?
if [[ $status -ne 0 ]]; then
  echo "quillmark quit with status $status:"
  cat "$work/app.log"
  exit 1
fi
if [[ -e $QUILLMARK_DATA_DIR/tmp.avi ]]; then
  echo "quillmark left the preview's video copy behind"
  exit 1
fi
echo "quillmark showed its window and quit cleanly on its close button"
SESSION

xvfb-run -a -s "-screen 0 1280x800x24" bash "$work/session.sh" "$app" "$shots" "$work"
