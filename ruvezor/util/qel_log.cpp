// qel_log: one printf-style message becomes one log line, written to
// standard output and handed to the driver's log file.
//
// Line: [tag][YYYY-MM-DD hh:mm:ss] [file:function:line] message\n
// The time-stamp part is left out when the tag is exactly "0"; the location
// when line is 0 or file/function is null.
#include "ruvezor/util/qel_log.h"

#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_var.h"  // str_vformat

#include <unistd.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

static const char* (*_qel_log_tag)() = nullptr;

void qel_log_set_tag(const char* (*tag)()) { _qel_log_tag = tag; }

// Rebuilt on every call; main thread only.
static char* _QEL_PRINTF_PREFIX() {
  static char s[256];
  return s;
}

static const char* _qel_basename(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash ? slash + 1 : path;
}

static void _qel_build_prefix(char* s, size_t cap) {
  s[0] = 0;
  const char* tag = _qel_log_tag ? _qel_log_tag() : "-1";
  if (!tag) tag = "";
  if (strcmp(tag, "0") == 0) return;
  time_t now = time(nullptr);
  struct tm tm_now;
  if (!localtime_r(&now, &tm_now)) memset(&tm_now, 0, sizeof(tm_now));
  snprintf(s, cap, "[%s][%04d-%02d-%02d %02d:%02d:%02d] ", tag, tm_now.tm_year + 1900,
           tm_now.tm_mon + 1, tm_now.tm_mday, tm_now.tm_hour, tm_now.tm_min, tm_now.tm_sec);
}

// Messages carry text from outside (a player's name, a mod's print, a
// server's reply). Read in a terminal or with `tail -f`, a control character
// in it would steer the operator's terminal (clear it, retitle it, hide what
// came before a carriage return): each becomes '?', the C1 controls of UTF-8
// (U+0080..U+009F) too. Line breaks and tabs stay.
// One pass, in place: a message may be megabytes of such characters.
static void _qel_log_defuse(std::string& s) {
  size_t out = 0;
  for (size_t i = 0; i < s.size(); i++) {
    unsigned char c = (unsigned char)s[i];
    if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7f) {
      s[out++] = '?';
    } else if (c == 0xc2 && i + 1 < s.size() && (unsigned char)s[i + 1] >= 0x80 &&
               (unsigned char)s[i + 1] <= 0x9f) {
      s[out++] = '?';
      i++;
    } else {
      s[out++] = (char)c;
    }
  }
  s.resize(out);
}

// A host's output often goes to a pipe (`| tee`, a supervisor, `| less`) or
// a terminal, whose reader may stop reading: there lines are written only
// while it keeps up (DriverLineOut). The log file still gets every line. A
// regular file (or anything else) is written as it was.
static void _qel_stdout_line(const std::string& line) {
  static int may_stall = -1;  // found at the first line
  static DriverLineOut out{STDOUT_FILENO, "standard output was not read; the log file has them"};
  fflush(stdout);             // whatever else printed goes first
  if (may_stall < 0) may_stall = driver_fd_may_stall(STDOUT_FILENO);
  if (!may_stall) {
    fwrite(line.data(), 1, line.size(), stdout);
    fflush(stdout);
    return;
  }
  out.line(line.data(), line.size());
}

void _qel_iprintf(const char* file, int line, const char* function, int level,
                  const char* format, ...) {
  if (!format) format = "";

  // The message has no length limit.
  va_list ap;
  va_start(ap, format);
  std::string msg = str_vformat(format, ap);
  va_end(ap);
  _qel_log_defuse(msg);
  const char* text = msg.c_str();
  size_t len = msg.size();

  // Names longer than the buffer are cut; they are source constants.
  char location[256];
  location[0] = 0;
  if (line != 0 && file && function)
    snprintf(location, sizeof(location), "[%s:%s:%d] ", _qel_basename(file), function, line);

  const char* ending = (len > 0 && text[len - 1] == '\n') ? "" : "\n";

  char* prefix = _QEL_PRINTF_PREFIX();
  _qel_build_prefix(prefix, 256);

  _qel_stdout_line(std::string(prefix) + location + msg + ending);
  driver_log_printf("%s%s%s%s", prefix, location, text, ending);
  std::string trouble = driver_log_trouble();
  if (!trouble.empty()) _qel_stdout_line(std::string(prefix) + trouble + "\n");
}

std::string qel_log_url(const char* url) {
  std::string out = url ? url : "";
  size_t q = out.find('?');
  if (q == std::string::npos) return out;
  for (size_t at = q + 1; at < out.size();) {
    size_t end = out.find_first_of("&;#", at);
    if (end == std::string::npos) end = out.size();
    size_t eq = out.find('=', at);
    if (eq != std::string::npos && eq < end) {
      std::string name = out.substr(at, eq - at);
      for (char& c : name) c = (char)tolower((unsigned char)c);
      bool secret = false;
      for (const char* word : {"token", "passw", "key", "session"})
        secret = secret || name.find(word) != std::string::npos;
      if (secret && end > eq + 1) {
        out.replace(eq + 1, end - eq - 1, "***");
        end = eq + 4;
      }
    }
    if (end < out.size() && out[end] == '#') break;
    at = end + 1;
  }
  return out;
}

bool QelLogLimit::allow(long now_second) {
  if (lines == 0 || now_second != second) {
    if (left_out) qel_log("%s: %d more %s\n", who, left_out, what);
    second = now_second;
    lines = 0;
    left_out = 0;
  }
  if (lines >= per_second) {
    left_out++;
    return false;
  }
  lines++;
  return true;
}
