// qel_log: the one logging call of the whole program.
//
// Every line goes to standard output and to the driver's log file
// (driver_log_printf), prefixed with a tag and time stamp and the caller's
// source location.
#pragma once

#include <string>

// file may be null, line 0 drops the location; level is accepted and unused.
void _qel_iprintf(const char* file, int line, const char* function, int level,
                  const char* format, ...) __attribute__((format(printf, 5, 6)));

// Where the prefix tag comes from: the application shell points this at its
// game_log_info. Null (engine-only programs) gives "-1", no game object.
void qel_log_set_tag(const char* (*tag)());

// Log with the caller's location filled in.
#define qel_log(...) _qel_iprintf(__FILE__, __LINE__, __func__, 0, __VA_ARGS__)

// An address as a log line may show it: the value of every query field whose
// name holds "token", "passw", "key" or "session" becomes "***", so a shared
// log gives away no session key or password.
std::string qel_log_url(const char* url);

// Lines that outside input can cause without end (a peer's packets, the
// names a host's records carry): at most `per_second` are let through within
// one second (of any clock, counted in whole seconds), the rest are counted,
// and "<who>: <count> more <what>" is logged when a later second begins.
struct QelLogLimit {
  const char* who;
  const char* what;
  int per_second;
  long second = 0;    // the second counted below
  int lines = 0;      // lines let through in it; 0 before the first
  int left_out = 0;   // lines left out since it began
  QelLogLimit(const char* who_, const char* what_, int per = 20) : who(who_), what(what_), per_second(per) {}
  bool allow(long now_second);
};

// Work that outside input can ask for without end (a file lookup for every
// new name a host sends): true for the first `per_second` calls within one
// second (of any clock, counted in whole seconds), false for the rest.
struct QelPerSecond {
  int per_second;
  long second = 0;  // the second counted below
  int taken = 0;    // calls let through in it
  explicit QelPerSecond(int per) : per_second(per) {}
  bool take(long now_second) {
    if (now_second != second) {
      second = now_second;
      taken = 0;
    }
    if (taken >= per_second) return false;
    taken++;
    return true;
  }
};
