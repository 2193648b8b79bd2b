#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need,
# when any of them is missing. Runs as root, or through sudo:
#   sudo scripts/setup.sh      installs what is missing
#   scripts/setup.sh --check   only says what is missing and how to install
#                              it (ends with 1 then); as root it installs
set -euo pipefail

packages=(g++ cmake ninja-build pkg-config libssl-dev openssl libsqlite3-dev
          libgtest-dev libgmock-dev curl python3 chromium firefox-esr)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "${1:-}" = "--check" ] && [ "$(id -u)" -ne 0 ]; then
  echo "Missing Debian packages: ${missing[*]}" >&2
  echo "Install them first with 'sudo scripts/setup.sh', then run this again as yourself." >&2
  exit 1
fi

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
echo "Installing: ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
