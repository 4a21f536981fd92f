#!/usr/bin/env bash
# Checks a built package the way a distribution would: the desktop entry, the
# AppStream metainfo, the man pages, lintian, and the programs run from the
# unpacked package. A check whose tool is not installed is skipped, and says so.
#   tools/check-package.sh quorvel_<version>_<arch>.deb
set -euo pipefail
package=$(realpath "$1")
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
failed=0

have() {
  command -v "$1" >/dev/null && return 0
  echo "skipped: $2 ($1 is not installed)"
  return 1
}
check() {  # check NAME COMMAND...: runs it, reports and counts a failure
  local name=$1
  shift
  if "$@"; then echo "ok: $name"; else echo "FAILED: $name"; failed=1; fi
}

dpkg-deb -x "$package" "$root"
version=$(dpkg-deb -f "$package" Version)

if have desktop-file-validate "desktop entry"; then
  check "desktop entry" desktop-file-validate "$root/usr/share/applications/quorvel.desktop"
fi
if have appstreamcli "AppStream metainfo"; then
  check "AppStream metainfo" appstreamcli validate --no-net \
    "$root"/usr/share/metainfo/*.metainfo.xml
fi

# man prints its formatter's warnings on standard error; any one fails.
render_quietly() {
  local warnings
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$1" 2>&1 >/dev/null)
  [ -z "$warnings" ] || { echo "$warnings"; return 1; }
}
if have man "man pages"; then
  for page in "$root"/usr/share/man/man1/*.1.gz; do
    check "man page $(basename "$page")" render_quietly "$page"
  done
fi

# Errors and warnings fail; each tag the package accepts has an override
# with its reason.
if have lintian "lintian"; then
  check "lintian" lintian --fail-on error,warning \
    "$package"
fi

reports_version() {
  local answer
  answer=$("$root/usr/bin/quorvel" --version) && [ "$answer" = "quorvel $version" ] ||
    { echo "quorvel --version said: $answer"; return 1; }
}
check "quorvel --version from the unpacked package" reports_version
simulator_answers() { "$root/usr/bin/quorvel-devsim" --help >/dev/null; }
check "quorvel-devsim --help from the unpacked package" simulator_answers
completions_load() {
  local name
  for name in quorvel quorvel-devsim; do
    bash -c 'source "$1" && complete -p "$2"' - \
      "$root/usr/share/bash-completion/completions/$name" "$name" >/dev/null || return 1
  done
}
check "bash completions in the package" completions_load

exit $failed
