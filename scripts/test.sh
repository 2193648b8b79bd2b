#!/usr/bin/env bash
# The test command: installs what is missing, builds, runs every test.
#   scripts/test.sh             build/ as scripts/build.sh makes it
#   scripts/test.sh --sanitize  build-sanitize/, every program and test built
#                               with AddressSanitizer and UndefinedBehaviorSanitizer;
#                               fails on any report, also from the programs the
#                               system tests start
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

# The tests run with the open-file limit of a desktop session (1,024 where the
# hard limit allows it), whoever runs them: a test or program that keeps
# descriptors it no longer needs fails here as it would for a user.
desktop_files=1024
hard_files=$(ulimit -Hn)
if [ "$hard_files" = unlimited ] || [ "$hard_files" -ge "$desktop_files" ]; then
  ulimit -Sn "$desktop_files"
fi

if [ "${1:-}" != "--sanitize" ]; then
  scripts/build.sh
  cd build
  ctest --output-on-failure -j "$(nproc)" --timeout 300
  exit 0
fi

# GCC warns of std::regex internals as uninitialised under AddressSanitizer: a false alarm.
# Line tables only: quicker to build, and every report still names file and line.
flags="-O2 -g1 -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -Wno-maybe-uninitialized"
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Sanitize \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build build-sanitize

# Every report, whichever program makes it, lands in one folder as a file.
reports="$PWD/build-sanitize/sanitizer-reports"
rm -rf "$reports" && mkdir -p "$reports"
export ASAN_OPTIONS="log_path=$reports/asan:detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=0"
export UBSAN_OPTIONS="log_path=$reports/ubsan:print_stacktrace=1:halt_on_error=1"

status=0
(cd build-sanitize && ctest --output-on-failure -j "$(nproc)" --timeout 600) || status=$?
if [ -n "$(ls -A "$reports")" ]; then
  echo "Sanitizer reports:"
  for f in "$reports"/*; do echo "== $f"; cat "$f"; done
  status=1
fi
exit $status
