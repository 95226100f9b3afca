#!/usr/bin/env bash
# Builds the game and starts it. Arguments are passed to the program, for example
#   bash scripts/run.sh -headless -mod mod_server.lua -port 7000
set -euo pipefail
# The program runs from bin/, so a mod file named relative to the caller's
# directory is passed on as a full path (a bundled name like mod_server.lua,
# found in data/, is passed as it is).
args=()
prev=""
for a in "$@"; do
  if [ "$prev" = "-mod" ] && [ "${a#[/-]}" = "$a" ] && [ -f "$a" ]; then a="$PWD/$a"; fi
  args+=("$a")
  prev="$a"
done
cd "$(dirname "$0")/.."
bash scripts/deps.sh run
# Two hosts started at once (a galaxy host and its match host) build one
# after the other: two builds in one tree break each other, and a copy taken
# while the other links is no program.
mkdir -p build
(
  flock 9
  # A configured tree reconfigures itself when a CMakeLists.txt changes, so
  # only a new (or half-made) one is configured here.
  if [ ! -f build/game/CMakeCache.txt ] || { [ ! -f build/game/Makefile ] && [ ! -f build/game/build.ninja ]; }; then
    echo "configuring build/game"
    if ! cmake -S . -B build/game -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZ2_TESTS=OFF -DZ2_BENCH=OFF \
        >build/.game-configure.log 2>&1; then
      cat build/.game-configure.log >&2
      exit 1
    fi
  fi
  # Only the files being compiled are shown, so a build with nothing to do
  # says nothing; a failed build shows all it said.
  set +e
  cmake --build build/game -j "$(nproc 2>/dev/null || echo 4)" --target zentar2 2>&1 |
    tee build/.game-build.log | grep --line-buffered -E '^\[ *[0-9]+%\] (Building|Linking)'
  built=${PIPESTATUS[0]}
  set -e
  if [ "$built" -ne 0 ]; then
    cat build/.game-build.log >&2
    exit 1
  fi
  # The program finds its assets in ../data, so it runs from bin/ beside data/.
  # A host started by this script may still be running from bin/zentar2, and a
  # running program cannot be overwritten ("Text file busy"): copy beside it and
  # rename over it, which leaves the running one its old file.
  mkdir -p bin
  cp build/game/bin/zentar2 bin/.zentar2.new.$$
  mv -f bin/.zentar2.new.$$ bin/zentar2
) 9>build/.run.lock
cd bin
exec ./zentar2 "${args[@]+"${args[@]}"}"
