#!/usr/bin/env bash
# Installs, with apt-get, those of the named Debian packages that are missing.
set -euo pipefail
missing=()
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # Packages such as nginx start their service on installation; the tests start
  # their own, so keep the package scripts from starting any.
  policy=/usr/sbin/policy-rc.d
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' > "$policy"
    chmod +x "$policy"
    trap 'rm -f "$policy"' EXIT
  fi
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
