// Fuzz entry for the document sync message of the web API: any reply text
// over any "sync.dat" the game wrote before. Whatever the server says, the
// sync writes only inside the document directory, never touches a document
// it did not write itself (the player's own file, the settings, a file of
// the data directory), and leaves a "sync.dat" that reads back as its list.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "app/game.h"
#include "fuzz_bytes.h"
#include "fuzz_home.h"
#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_json.h"
#include "web/game_web.h"

namespace {

namespace fs = std::filesystem;

// Every file under dir but those under skip, as paths.
std::set<std::string> files_under(const std::string& dir, const std::string& skip) {
    std::set<std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        std::string p = it->path().string();
        if (p.compare(0, skip.size(), skip) == 0) continue;
        out.insert(p);
    }
    return out;
}

// A document sync.dat lists as written by the sync (a number above 0).
bool managed(const std::string& old_text, const char* name) {
    var old;
    if (old_text.empty() || json_decode(old, old_text.data(), old_text.size()) != 0 || old.__type__() != VAR_DICT)
        return false;
    return old.__has__(var(name)) && old.__get__(var(name)).__num__() > 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Game* game = nullptr;
    std::string docs = FuzzHome::fresh_docs();
    std::string root = FuzzHome::root();
    if (!game) {
        fs::create_directories(root + "/data");
        FuzzHome::put(root + "/data/asset.png", "asset");
        driver_set_altdir((root + "/data").c_str());
        FuzzHome::put(root + "/outside.txt", "outside");
        game = new Game();
        game->headless = 1;
    }

    FuzzBytes in(data, size);
    size_t old_len = in.u16();
    std::string old_text = in.bytes(old_len);
    std::string message = in.rest();
    // What a player and the game keep in the document directory.
    FuzzHome::put(docs + "/mine.txt", "mine");
    FuzzHome::put(docs + "/settings-local.dat", "settings");
    if (!old_text.empty()) FuzzHome::put(docs + "/sync.dat", old_text);
    std::set<std::string> before = files_under(root, docs);

    game_web_handle_sync(*game, message);

    if (files_under(root, docs) != before) fuzz_fail("a file outside the document directory changed");
    if (FuzzHome::get(root + "/outside.txt") != "outside" || FuzzHome::get(root + "/data/asset.png") != "asset")
        fuzz_fail("a file outside the document directory was written");
    for (const char* own : {"mine.txt", "settings-local.dat"}) {
        if (managed(old_text, own)) continue;
        std::string want = own[0] == 'm' ? "mine" : "settings";
        if (FuzzHome::get(docs + "/" + own) != want) fuzz_fail(std::string("the sync overwrote ") + own);
    }
    std::string list = FuzzHome::get(docs + "/sync.dat");
    if (list != old_text) {
        var now;
        if (json_decode(now, list.data(), list.size()) != 0 || now.__type__() != VAR_DICT)
            fuzz_fail("sync.dat does not read back as a list");
    }
    return 0;
}
