// preboard: the stored answer of the policy and age gate.
//
// "preboard.txt" in the document directory holds "OK" (accepted), "FAIL"
// (refused) or nothing. The answer is read once per run and cached.
#pragma once

// 1 accepted, -1 refused, -2 not answered (no file, or anything but "OK"
// or "FAIL" in it).
int preboard_get();
// Caches the status and writes "OK" for 1, "FAIL" for -1, nothing otherwise;
// 0 also makes the next preboard_get read the (now empty) file again.
void preboard_set(int status);
