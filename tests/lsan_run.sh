#!/usr/bin/env bash
# Runs one test program of the sanitizer build (ctest starts every test
# through this). LeakSanitizer's stop-the-world tracer sometimes crashes by
# itself while it reads a thread's dynamic TLS, after every test has passed
# ("Tracer caught signal 11", "LeakSanitizer has encountered a fatal error");
# whether it does depends on the memory layout of the run, not on our code.
# That exact ending is the tool failing, so it alone is let through, with a
# line saying the leak check could not run. A leak report, a memory error, a
# runtime error or a failed test still fails.
out=$(mktemp)
"$@" >"$out" 2>&1
rc=$?
cat "$out"
if [ "$rc" -ne 0 ] &&
   grep -q '^\[  PASSED  \]' "$out" &&
   grep -q 'Tracer caught signal' "$out" &&
   grep -q 'LeakSanitizer has encountered a fatal error' "$out" &&
   ! grep -q -e 'ERROR: LeakSanitizer: detected memory leaks' -e 'ERROR: AddressSanitizer' \
       -e 'runtime error:' -e '^\[  FAILED  \]' "$out"; then
  echo "lsan_run: the leak check could not run (the sanitizer's tracer crashed after the tests passed)"
  rc=0
fi
rm -f "$out"
exit "$rc"
