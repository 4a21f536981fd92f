#!/usr/bin/env bash
# Builds Quorvel and starts the terminal in the current directory (where it
# keeps Quorvel.ini).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" --target quorvel quorvel_devsim
exec "$root/build/ui/quorvel"
