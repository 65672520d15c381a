#!/usr/bin/env bash
# The whole check: installs what is missing, builds, and runs every test,
# then builds again with AddressSanitizer + UndefinedBehaviorSanitizer and
# runs the tests there too, and finally runs every fuzz target for a while.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup.sh

status=0
tools/build.sh normal
(cd build && ctest --output-on-failure -j"$(nproc)") || status=1

tools/build.sh sanitize
# Leak checking stays on; Qt's own one-time allocations are suppressed.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1"
export LSAN_OPTIONS="suppressions=$PWD/tools/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
(cd build-asan && ctest --output-on-failure -j"$(nproc)" -LE nosan) || status=1

# Each reader of outside data under libFuzzer for 30 seconds (clang tree
# build-fuzz); a finding fails the run. FUZZ_SECONDS overrides the time.
tools/fuzz.sh "${FUZZ_SECONDS:-30}" || status=1

exit $status
