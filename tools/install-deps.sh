#!/usr/bin/env bash
# Installs the Debian packages that building and testing Quorvel needs, when
# they are missing: apt-get as root, otherwise through sudo.
set -euo pipefail

packages=(build-essential cmake ninja-build pkg-config libgtest-dev
          qt6-base-dev fonts-liberation)
# The Debian package: its tools, and the checkers that the tests run on it.
packages+=(dpkg-dev file desktop-file-utils appstream lintian man-db)
# A real Modbus RTU server for the checksum and answer-rule tests.
packages+=(python3-pymodbus python3-serial python3-serial-asyncio)
# The server the network-port tests and benchmarks run against (RFC 2217 and
# raw TCP in front of a pseudo-terminal). The client is our own: see
# link/network_line.h for why not libgensio.
packages+=(ser2net)
# The format check, and the build without the window under a second compiler
# with the libFuzzer targets (tools/check-format.sh, tools/fuzz.sh).
packages+=(clang-format clang libclang-rt-14-dev)
# The linker of every build (CMakeLists.txt): the tests link several times
# faster than with GNU ld.
packages+=(lld)
# The far side of the file-transfer tests and benchmarks: XMODEM, YMODEM and
# ZMODEM (sx/rx, sb/rb, sz/rz).
packages+=(lrzsz)
# The scripts' language, Lua 5.4, embedded (script/).
packages+=(liblua5.4-dev)
# The console's terminal emulator (console/).
packages+=(libvterm-dev)
# The context menu read as a screen reader reads it: the window on a display
# of its own with a session bus and the accessibility bus, read over AT-SPI
# (tests/ui/atspi_session.sh, tests/ui/atspi_probe.py).
packages+=(xvfb xauth dbus at-spi2-core python3-pyatspi)
packages+=("$@")

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
