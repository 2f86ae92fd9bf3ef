#!/usr/bin/env bash
# Installs, with apt, whatever a fresh Debian 12 machine lacks for the build
# and the tests.  Extra package names may be given as arguments.
set -euo pipefail
want=(cmake make g++ gcc libgtest-dev "$@")
missing=()
for pkg in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "ok installed" || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages; run as root or install them: apt-get install ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
