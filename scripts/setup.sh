#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need,
# when any of them is missing. Runs as root, or through sudo.
set -euo pipefail

packages=(g++ cmake ninja-build pkg-config libssl-dev openssl libsqlite3-dev
          libgtest-dev libgmock-dev curl python3 chromium)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
echo "Installing: ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
