#!/usr/bin/env bash
# Takes a real screenshot of the terminal's window under Xvfb while a
# simulated device on a pseudo-terminal talks to it, and writes it to
# docs/screenshot.png (or to the path given as the first argument). With
# --ports first, it opens the port list and writes docs/port-list.png
# instead; with --session, it shows the session view (stamps, a request and
# its answer, twice with a pause between) and writes docs/session-view.png;
# with --plot, it shows the plot beside the view while the demo device's
# waves play (quorvel-devsim --wave) and writes docs/plot.png. With --menu
# (alone or after --session) it opens the menu bar's View menu and writes
# docs/menu-bar.png. With --console, it shows the console on the demo
# device's shell (Enter, then `help` and `colors` typed) and writes
# docs/console.png.
# --size WIDTHxHEIGHT (before the path) opens the window at that size, on a
# virtual screen large enough for it; without it the window has its default
# size. Builds in build/, or in $QUORVEL_BUILD_DIR.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
ports=0
session=0
size=""
plot=0
menu=0
console=0
while [ $# -gt 0 ]; do
  case "$1" in
    --ports) ports=1 ;;
    --session) session=1 ;;
    --plot) plot=1 ;;
    --menu) menu=1 ;;
    --console) console=1 ;;
    --size)
      size="${2:-}"
      [[ "$size" =~ ^[0-9]+x[0-9]+$ ]] || { echo "--size takes WIDTHxHEIGHT, e.g. 1600x1000" >&2; exit 2; }
      shift
      ;;
    *) break ;;
  esac
  shift
done
default_out="$root/docs/screenshot.png"
[ "$ports" = 1 ] && default_out="$root/docs/port-list.png"
[ "$session" = 1 ] && default_out="$root/docs/session-view.png"
[ "$plot" = 1 ] && default_out="$root/docs/plot.png"
[ "$menu" = 1 ] && default_out="$root/docs/menu-bar.png"
[ "$console" = 1 ] && default_out="$root/docs/console.png"
out=$(realpath -m "${1:-$default_out}")
build="${QUORVEL_BUILD_DIR:-$root/build}"

"$root/tools/install-deps.sh" xvfb xauth x11-utils imagemagick xdotool
# An existing build directory keeps its options (tests and all).
if [ -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" >/dev/null
else
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target quorvel quorvel-devsim >/dev/null

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"

# The terminal starts with 9600 baud, no parity, hex display off and a
# request in its send box's history; the device answers every frame ending
# in 0A with a status line, so both directions show traffic.
cat >Quorvel.ini <<'INI'
[COMConfig]
COM=0
BRATE=7
BYTESIZE=3
STOPBITS=0
PARITY=0
FLOWCONTROL=0
[RecvConfig]
RECVHEX=0
[SendConfig]
SENDHEX=0
TIMEGAP=500
FRAMEEND=0a
INI
if [ "$session" = 1 ]; then
  printf '[View]\nSessionView=1\nStamps=time\nShowTx=1\n' >>Quorvel.ini
fi
if [ "$console" = 1 ]; then
  printf '[Console]\nShown=1\n' >>Quorvel.ini
fi
if [ "$menu" = 1 ]; then
  # A send list of two requests beside the view.
  printf '[SendList]\nName1=Read status\nContent1=READ?\nName2=Version\nContent2=VER?\n' >>Quorvel.ini
  printf '[SendListPanel]\nShown=1\n' >>Quorvel.ini
fi
# The virtual screen holds the window, and the port list that may reach
# past its right edge.
screen_width=1024
screen_height=768
if [ "$plot" = 1 ]; then
  printf '[Plot]\nShown=1\nWidth=640\nWindow=6\n' >>Quorvel.ini
  screen_width=1920
  screen_height=1080
fi
if [ -n "$size" ]; then
  printf '[Window]\nGeometry=0,0,%s,%s\n' "${size%x*}" "${size#*x}" >>Quorvel.ini
  screen_width=$(( ${size%x*} + 440 > screen_width ? ${size%x*} + 440 : screen_width ))
  screen_height=$(( ${size#*x} + 40 > screen_height ? ${size#*x} + 40 : screen_height ))
fi

# "T=21.5C H=40% OK\r\n" every 300 ms, as a sensor reporting on its own;
# for the session view, as the answer to each request ("READ?") instead.
report="54 3d 32 31 2e 35 43 20 48 3d 34 30 25 20 4f 4b 0d 0a"
if [ "$console" = 1 ]; then
  "$build/tools/quorvel-devsim" --com 1 --demo >devsim.log 2>&1 &
elif [ "$plot" = 1 ]; then
  "$build/tools/quorvel-devsim" --com 1 --wave 200 >devsim.log 2>&1 &
elif [ "$session" = 1 ]; then
  "$build/tools/quorvel-devsim" --com 1 --reply "$report" --frame-end 3f --delay 12 \
    >devsim.log 2>&1 &
else
  "$build/tools/quorvel-devsim" --com 1 --every 300 --send "$report" >devsim.log 2>&1 &
fi
pids+=($!)
for _ in $(seq 100); do
  grep -q '^COM1=' Quorvel.ini 2>/dev/null && break
  sleep 0.05
done
grep -q '^COM1=' Quorvel.ini || { echo "the simulated device did not start" >&2; cat devsim.log >&2; exit 1; }

export out build ports session plot menu console
xvfb-run -a -s "-screen 0 ${screen_width}x${screen_height}x24 -dpi 96" bash -c '
  set -euo pipefail
  "$build/ui/quorvel" &
  app=$!
  window=""
  for _ in $(seq 100); do
    window=$(xwininfo -root -tree 2>/dev/null | awk "/serial debug tool/ { print \$1; exit }")
    [ -n "$window" ] && break
    sleep 0.05
  done
  [ -n "$window" ] || { echo "the window did not appear" >&2; kill $app; exit 1; }
  # Let a few reports arrive and be shown.
  sleep 2
  extra=0
  if [ "$session" = 1 ]; then
    # The focus starts on "Send"; two Tabs reach the send box. A request,
    # sent three times, then twice more after a pause.
    xdotool key --window "$window" Tab Tab
    xdotool type --window "$window" "READ?"
    xdotool key --window "$window" shift+Tab shift+Tab
    for pause in 0.4 0.4 1.7 0.4 0.4; do
      xdotool key --window "$window" space
      sleep "$pause"
    done
  fi
  if [ "$ports" = 1 ]; then
    # A click on the arrow of the port selector (top left) opens its list,
    # which may reach past the window on the right.
    xdotool mousemove --window "$window" 178 35 click 1
    sleep 1
    extra=420
  fi
  if [ "$plot" = 1 ]; then
    # Six seconds of waves in the pane beside the view.
    sleep 5
  fi
  if [ "$console" = 1 ]; then
    # The console has the focus: Enter starts the demo device'"'"'s shell.
    xdotool key --window "$window" Return
    sleep 0.5
    for command in help colors; do
      xdotool type --window "$window" --delay 60 "$command"
      xdotool key --window "$window" Return
      sleep 0.7
    done
  fi
  if [ "$menu" = 1 ]; then
    # Alt+V opens the View menu of the menu bar.
    xdotool key --window "$window" alt+v
    sleep 1
  fi
  geometry=$(xwininfo -id "$window" | awk -v extra=$extra "/Absolute upper-left X/ { x=\$4 } /Absolute upper-left Y/ { y=\$4 } /Width/ { w=\$2 } /Height/ { h=\$2 } END { print w + extra \"x\" h \"+\" x \"+\" y }")
  mkdir -p "$(dirname "$out")"
  import -window root -crop "$geometry" +repage "$out"
  kill $app
  wait $app 2>/dev/null || true
'
echo "wrote $out"
