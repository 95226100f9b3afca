// The scratch tree and headless game the mod runtime tests start from:
// <tmp>/<prefix>-XXXXXX with HOME at <root>/home and, when asked, <root>/bin
// as the working directory (so the data directory is <root>/data).
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <string>

#include "mods/mods_api.h"
#include "mods/mods_lua.h"
#include "ruvezor/util/qel_driver.h"

namespace z2test {

// A line of the mod log holds that text.
inline bool mod_logged(const ModsAPI& api, const std::string& part) {
    for (const std::string& line : api.log)
        if (line.find(part) != std::string::npos) return true;
    return false;
}

// The mod log, newest line last.
inline std::string mod_log(const ModsAPI& api) {
    std::string s;
    for (const std::string& l : api.log) s = l + "\n" + s;
    return s;
}

template <class G = ModsGame>
class ModsTree : public ::testing::Test {
protected:
    std::string root, old_cwd;
    std::unique_ptr<G> game;

    // The tree with `dirs` beside home/, the driver (under the game name when
    // one is given) and a headless game.
    void make(const char* prefix, std::initializer_list<const char*> dirs = {}, bool in_bin = false,
              const char* gamename = nullptr) {
        std::string tmpl = std::string("/tmp/") + prefix + "-XXXXXX";
        root = mkdtemp(tmpl.data());
        std::filesystem::create_directories(root + "/home");
        for (const char* d : dirs) std::filesystem::create_directories(root + "/" + d);
        if (in_bin) {
            old_cwd = std::filesystem::current_path();
            std::filesystem::current_path(root + "/bin");
        }
        setenv("HOME", (root + "/home").c_str(), 1);
        driver_init(0);
        if (gamename) driver_set_gamename(gamename);
        game = std::make_unique<G>();
        game->headless = 1;
    }

    void TearDown() override {
        if (game) mods_deinit(*game);
        game.reset();
        driver_deinit();
        if (!old_cwd.empty()) std::filesystem::current_path(old_cwd);
        std::filesystem::remove_all(root);
    }

    std::string path(const std::string& rel) { return root + "/" + rel; }
    void write(const std::string& rel, const std::string& text) {
        std::ofstream(path(rel), std::ios::binary) << text;
    }
    // Starts <root>/<rel> holding that text.
    void start_file(const std::string& rel, const std::string& text, var params = var(VAR_DICT, 0)) {
        write(rel, text);
        snprintf(game->mod_file, sizeof(game->mod_file), "%s", path(rel).c_str());
        mods_restart(*game, 0, params);
    }

    ModsAPI* api() { return mods_api_of(*game); }
    ModsLua* lua() { return static_cast<ModsLua*>(mods_engine_of(*game)); }
    std::string param(const char* key) { return api()->param_get(key).__str__(); }
    // Runs the chunk in the mod's state, as the console would.
    void run(const std::string& code) { lua()->script(code.c_str(), "test"); }
    bool logged(const std::string& part) { return mod_logged(*api(), part); }
};

}  // namespace z2test
