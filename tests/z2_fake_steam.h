// The fake Steam library's control functions, through a handle of the test's
// own on it (which also keeps it loaded, and its state alive, across driver
// restarts).
#pragma once

#include <dlfcn.h>

#include <cstring>
#include <string>

#include "z2_test_util.h"

namespace z2test {

struct FakeSteam {
  void* h = nullptr;
  void (*reset)() = nullptr;
  void (*set)(const char*, int) = nullptr;
  void (*set_user)(unsigned long long, const char*) = nullptr;
  int (*calls)(const char*) = nullptr;
  const char* (*last)(const char*) = nullptr;
  const char* (*log)() = nullptr;
  int (*file)(const char*, char*, int) = nullptr;
  void (*put_file)(const char*, const char*, int) = nullptr;

  template <typename F>
  void bind(F*& f, const char* name) {
    void* p = dlsym(h, name);
    memcpy(&f, &p, sizeof(p));
  }

  // Opens the library built beside the tests, reset; false when there is
  // none, and a failure too when it lacks a control function.
  bool open(const std::string& path = fake_library_path()) {
    if (path.empty() || !(h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL))) return false;
    bind(reset, "fake_steam_reset");
    bind(set, "fake_steam_set");
    bind(set_user, "fake_steam_set_user");
    bind(calls, "fake_steam_calls");
    bind(last, "fake_steam_last");
    bind(log, "fake_steam_log");
    bind(file, "fake_steam_file");
    bind(put_file, "fake_steam_put_file");
    if (!(reset && set && set_user && calls && last && log && file && put_file)) {
      ADD_FAILURE() << "the fake library lacks a control function";
      return false;
    }
    reset();
    return true;
  }
  void close() {
    if (h) dlclose(h);
    h = nullptr;
  }
  ~FakeSteam() { close(); }
};

}  // namespace z2test
