#!/usr/bin/env bash
# The bash completions of quorvel and quorvel-devsim, called as bash calls
# them on Tab: the words so far, the word under the cursor, the answers.
# Usage: completion_check.sh <packaging/completions>
set -u
completions=$1
# shellcheck source=/dev/null
source "$completions/quorvel"
# shellcheck source=/dev/null
source "$completions/quorvel-devsim"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
printf '[COMConfig]\nCOM=0\n[PortMap]\nCOM5=/dev/ttyUSB0\ncom12 = /dev/pts/3\n[View]\nCOM9=x\n' \
  >Quorvel.ini
printf 'x\n' >rx.log
printf 'check(true)\n' >selftest.lua
failures=0

# check FUNCTION "WORDS..." EXPECTED...: each expected answer is among them.
check() {
  local function=$1 words=$2 expected answer found
  shift 2
  read -r -a COMP_WORDS <<<"$words"
  [[ $words == *' ' ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  "$function" 2>/dev/null
  for expected in "$@"; do
    found=0
    for answer in "${COMPREPLY[@]}"; do [[ $answer == "$expected" ]] && found=1; done
    if ((!found)); then
      echo "FAIL: '$words' does not offer '$expected' (offers: ${COMPREPLY[*]})"
      failures=$((failures + 1))
    fi
  done
}

# refuse FUNCTION "WORDS..." UNEXPECTED: the answer is not among them.
refuse() {
  local function=$1 words=$2 unexpected=$3 answer
  read -r -a COMP_WORDS <<<"$words"
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  "$function" 2>/dev/null
  for answer in "${COMPREPLY[@]}"; do
    if [[ $answer == "$unexpected" ]]; then
      echo "FAIL: '$words' offers '$unexpected'"
      failures=$((failures + 1))
    fi
  done
}

check _quorvel "quorvel --ba" --baud
check _quorvel "quorvel --u" --user-config
check _quorvel "quorvel --l" --list
check _quorvel "quorvel --baud 92" 921600
check _quorvel "quorvel --baud 1" 110 115200 1000000
check _quorvel "quorvel --settings Quo" Quorvel.ini
check _quorvel "quorvel --sc" --script
check _quorvel "quorvel --script s" selftest.lua
refuse _quorvel "quorvel --script r" rx.log
check _quorvel "quorvel --script s.lua --ta" --tap
check _quorvel "quorvel --script s.lua --t" --tap --timeout
check _quorvel "quorvel --script s.lua --report r" rx.log
check _quorvel "quorvel --script s.lua CO" COM5
check _quorvel "quorvel rf" rfc2217://
check _quorvel "quorvel t" tcp://
check _quorvel "quorvel CO" COM5 COM12
check _quorvel "quorvel --mo" --monitor
check _quorvel "quorvel --br" --bridge
check _quorvel "quorvel --baud-" --baud-a --baud-b
check _quorvel "quorvel --baud-b 92" 921600
check _quorvel "quorvel --monitor CO" COM5 COM12
check _quorvel "quorvel --bridge COM5 t" tcp://
refuse _quorvel "quorvel CO" COM9
[[ -e /dev/ttyS0 ]] && check _quorvel "quorvel /dev/ttyS" /dev/ttyS0
check _quorvel_devsim "quorvel-devsim --rep" --replay --reply
check _quorvel_devsim "quorvel-devsim --replay r" rx.log
check _quorvel_devsim "quorvel-devsim --com " 1 20
check _quorvel_devsim "quorvel-devsim --st" --stream --strict
refuse _quorvel_devsim "quorvel-devsim --send " --echo

((failures == 0)) && echo "bash completions: all cases pass"
exit $((failures > 0))
