#!/usr/bin/env bash
# Builds everything and runs every test twice: in an optimised build, and in a
# build with AddressSanitizer and UndefinedBehaviorSanitizer so memory faults fail.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh test

jobs=$(nproc 2>/dev/null || echo 4)
# Window and GL tests use Mesa's software renderer with no display.
export SDL_VIDEODRIVER="${SDL_VIDEODRIVER:-offscreen}"
export SDL_AUDIODRIVER="${SDL_AUDIODRIVER:-dummy}"
export LIBGL_ALWAYS_SOFTWARE=1

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZ2_TESTS=ON -DZ2_BENCH=ON >/dev/null
cmake --build build/release -j "$jobs"
cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=Debug -DZ2_SANITIZE=ON -DZ2_TESTS=ON -DZ2_BENCH=OFF >/dev/null
cmake --build build/sanitize -j "$jobs"

echo "== tests (optimised build)"
(cd build/release && ctest -j "$jobs" --output-on-failure)
echo "== tests (sanitizer build, leaks included)"
(cd build/sanitize && ctest -j "$jobs" --output-on-failure)
