#!/usr/bin/env bash
# Installs the Debian packages listed in packages.txt that are not installed yet.
# Runs as root (or through sudo) on a fresh Debian 12 machine; does nothing when everything is
# present.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
missing=()
while read -r pkg; do
  [[ -z "$pkg" || "$pkg" == \#* ]] && continue
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
done < "$here/packages.txt"
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  as_root=()
  if ((EUID != 0)); then
    command -v sudo >/dev/null || { echo "run as root to install: ${missing[*]}" >&2; exit 1; }
    as_root=(sudo --preserve-env=DEBIAN_FRONTEND)
  fi
  "${as_root[@]}" apt-get update -qq
  "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
