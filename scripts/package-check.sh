#!/usr/bin/env bash
# Proves the Debian package on this machine: builds it, installs it with
# dpkg -i, runs the installed programs from /usr/bin (a write and verify on a
# simulated chip in both command-line styles), checks the manual pages, the
# completion, the desktop entry and the AppStream metadata, and removes it.
set -euo pipefail
cd "$(dirname "$0")/.."

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
deb=$(bash scripts/package.sh)
echo "== $deb"
dpkg-deb --info "$deb" | grep -E '^ (Package|Version|Depends):'

work=$(mktemp -d)
cleanup() {
  $SUDO dpkg -r brenwick >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
$SUDO dpkg -i "$deb"

/usr/bin/brenwick-cli --version | grep -q '^brenwick-cli [0-9]'
/usr/bin/brenwick --version | grep -q '^brenwick [0-9]'
cp examples/blink.hex "$work/"
(
  cd "$work"
  /usr/bin/brenwick-cli --quiet --port sim:AT90S8535,state=chip.txt --device 8535 \
    erase write-prog blink.hex verify-prog blink.hex
  /usr/bin/brenwick-cli -P sim:AT90S8535,state=chip.txt -p 8535 -U flash:v:blink.hex:i \
    -U flash:r:back.bin:r
  test -s back.bin
)
man -w brenwick-cli
man -w brenwick
# The completion offers the part ids of the installed tool.
bash -c 'source /usr/share/bash-completion/bash_completion
  source /usr/share/bash-completion/completions/brenwick-cli
  COMP_WORDS=(brenwick-cli -p m328); COMP_CWORD=2
  COMP_LINE="${COMP_WORDS[*]}"; COMP_POINT=${#COMP_LINE}
  _brenwick_cli
  [[ " ${COMPREPLY[*]} " == *" m328p "* ]]'
desktop-file-validate /usr/share/applications/brenwick.desktop
appstreamcli validate --no-net /usr/share/metainfo/io.github.brenwick.Brenwick.metainfo.xml

$SUDO dpkg -r brenwick
if [ -e /usr/bin/brenwick-cli ]; then
  echo "brenwick-cli still installed after dpkg -r" >&2
  exit 1
fi
echo "package check passed"
