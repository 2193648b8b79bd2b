#!/usr/bin/env bash
# The main job: installs what is missing, builds, and starts varlume (which
# starts its services) from its build folder, on the default folders.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
cd build/Varlume
if [ -x ./varlume ]; then
  exec ./varlume "$@"
fi
echo "varlume is not built yet; the libraries and tests are in build/."
