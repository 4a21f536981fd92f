#!/usr/bin/env bash
# Builds the Debian package quorvel_<version>_<arch>.deb with CPack, from a
# hardened build of its own, with the flags Debian builds with (build-package/), and puts it in the
# given directory (default: the current one). Prints the package's path.
#   tools/package.sh [output-directory [build-directory]]
#     with a build directory, the package is made from that build instead,
#     which must have been configured with QUORVEL_HARDENING (the default
#     preset's build is).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
output=$(mkdir -p "${1:-.}" && cd "${1:-.}" && pwd)
"$root/tools/install-deps.sh"

build="$root/build-package"
if [ -n "${2:-}" ]; then
  # A build already configured with the hardening (the test command's).
  build=$(cd "$2" && pwd)
  grep -q '^QUORVEL_HARDENING:BOOL=ON$' "$build/CMakeCache.txt" ||
    { echo "package.sh: $build is not built with QUORVEL_HARDENING" >&2; exit 2; }
else
  # The compiler and linker flags Debian builds its own packages with
  # (hardening included), so the package passes the same checks.
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  CXXFLAGS=$(dpkg-buildflags --get CXXFLAGS)
  CPPFLAGS=$(dpkg-buildflags --get CPPFLAGS)
  export CXXFLAGS="$CXXFLAGS $CPPFLAGS"
  LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
  export LDFLAGS
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=None -DQUORVEL_BUILD_TESTS=OFF \
    -DQUORVEL_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
fi
cmake --build "$build" >&2
rm -f "$build"/cpack/quorvel_*.deb
(cd "$build" && cpack -B "$build/cpack" >&2)
package=$(find "$build/cpack" -maxdepth 1 -name 'quorvel_*.deb' | head -n 1)
[ -n "$package" ] || { echo "package.sh: CPack made no package" >&2; exit 1; }
cp "$package" "$output/"
echo "$output/$(basename "$package")"
