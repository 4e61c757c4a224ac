#!/usr/bin/env bash
# Installs whatever is missing of the groups of tools/packages.txt named on the
# command line (run, build, wayland, gnome, windows, test), or of every group when
# none is named. Needs root or sudo.
#
#   tools/install-deps.sh [GROUP...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
list=$here/packages.txt

known=$(sed -n 's/^\[\(.*\)\]$/\1/p' "$list")
for group in "$@"; do
  grep -qx "$group" <<<"$known" || {
    echo "install-deps: no group \"$group\" in tools/packages.txt (groups: $(echo $known))" >&2
    exit 2
  }
done

# The package lines of the groups asked for (all of them without arguments).
mapfile -t wanted < <(awk -v groups=" $* " '
  /^[[:space:]]*(#|$)/ { next }
  /^\[.*\]$/ { group = substr($0, 2, length($0) - 2); next }
  groups == "  " || index(groups, " " group " ") { print }
' "$list")
missing=()
for pkg in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
