#!/usr/bin/env bash
# The main job: builds the three programs and their data files (the tests
# are built by scripts/test.sh) and starts varlume, which starts its services,
# from its build folder, for the user who runs this script.
# Packages: install them first with `sudo scripts/setup.sh`; this script only
# checks for them, so it never needs sudo itself.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" -eq 0 ] && [ -n "${SUDO_USER:-}" ]; then
  echo "run.sh: started through sudo, so varlume would serve root, not $SUDO_USER." >&2
  echo "run.sh: install the packages with 'sudo scripts/setup.sh', then run 'scripts/run.sh' as yourself." >&2
  exit 1
fi
scripts/setup.sh --check
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target varlume varlumefile varlumeevent varlume_data
cd build/Varlume
exec ./varlume "$@"
