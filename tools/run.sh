#!/usr/bin/env bash
# Builds Quorvel and starts the terminal in the current directory (where it
# keeps Quorvel.ini).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" --target quorvel quorvel_devsim
# Without a serial adapter the first start shows the terminal working on its
# demo device; with one it opens the stored port as always.
shopt -s nullglob
adapters=(/dev/ttyUSB* /dev/ttyACM* /dev/serial/by-id/*)
if [ $# -eq 0 ] && [ ${#adapters[@]} -eq 0 ]; then
  echo "No serial adapter found (/dev/ttyUSB*, /dev/ttyACM*, /dev/serial/by-id/): starting on the demo device (quorvel --demo); to open a real port, plug an adapter in or name the port: tools/run.sh /dev/ttyS0" >&2
  exec "$root/build/ui/quorvel" --demo
fi
exec "$root/build/ui/quorvel" "$@"
