#!/usr/bin/env bash
# Runs a window test as on a desktop with a screen reader: on a display of
# its own (Xvfb), with a session bus of its own and the accessibility bus on
# it, the window on xcb with its AT-SPI bridge on, so that the test can read
# the window as a reader does (tests/ui/atspi_probe.py). Everything it
# starts ends with the session bus. Skips (exit 77) with a line when a part
# is not installed.
#
#   atspi_session.sh TEST-PROGRAM [ARGUMENTS...]
set -euo pipefail

if [ "${1:-}" = "--inside" ]; then
  shift
  # The registry first: a window that finds none when it starts is never
  # listed on the bus.
  /usr/bin/python3 -c 'import pyatspi; pyatspi.Registry.getDesktop(0)'
  export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
  exec "$@"
fi

for tool in dbus-run-session xvfb-run /usr/libexec/at-spi-bus-launcher; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (tools/install-deps.sh installs it)"
    exit 77
  fi
done
if ! /usr/bin/python3 -c 'import pyatspi' 2>/dev/null; then
  echo "SKIP: python3-pyatspi is not installed (tools/install-deps.sh installs it)"
  exit 77
fi
# The accessibility bus puts its socket in the runtime directory (or under
# ~/.cache without one): a directory of its own keeps two runs at once apart.
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
status=0
XDG_RUNTIME_DIR=$runtime dbus-run-session -- xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$0" --inside "$@" || status=$?
exit $status
