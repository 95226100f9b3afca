// Fuzz entry for the settings record: any two files where the game keeps its
// settings ("settings-cloud.dat", "settings-local.dat": short, long, missing
// or damaged). A load must give a record the screens can use: the current
// version, every value in its range, every default filled in, the per-login
// fields cleared, every text ended inside its array and the web identity
// derived; and what it saves must load back to the same record.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "shell/game_settings.h"
#include "shell/game_settings_io.h"
#include "fuzz_bytes.h"
#include "fuzz_home.h"
#include "ruvezor/util/qel_driver.h"

namespace {

template <size_t N>
bool ended(const char (&text)[N]) {
    return memchr(text, 0, N) != nullptr;
}

bool one_of(int32_t v, std::initializer_list<int32_t> set) {
    for (int32_t x : set)
        if (v == x) return true;
    return false;
}

bool hex32(const char* s) {
    if (strlen(s) != 32) return false;
    for (int i = 0; i < 32; i++)
        if (!((s[i] >= '0' && s[i] <= '9') || (s[i] >= 'a' && s[i] <= 'f'))) return false;
    return true;
}

void check(const Settings& s) {
    if (s.version != 6) fuzz_fail("version is not 6");
    if (s.music < 0 || s.music > 100 || s.sfx < 0 || s.sfx > 100) fuzz_fail("volume out of range");
    if (!one_of(s.vsize, {320, 400, 480, 640, 800, 960})) fuzz_fail("vsize out of range");
    if (!one_of(s.gsize, {320, 640})) fuzz_fail("gsize out of range");
    if (s.vres == 0 || s.vfull == 0) fuzz_fail("a video default is missing");
    for (int32_t v : {s.ui_box, s.ui_double_select, s.ui_double_reinforce, s.ui_percent, s.ui_slider,
                      s.ui_right_only, s.ui_drag_drop, s.ui_lefty, s.ui_colorblind, s.chat_height[0],
                      s.chat_height[1], s.chat_height[2]})
        if (v == 0) fuzz_fail("a UI default is missing");
    if (s.ui_nonplayer_select != -1 || s.ui_scroll != 1 || s.ui_wheel_invert != -1 || s.ui_num_chat != -1 ||
        s.ui_multitouch != 1)
        fuzz_fail("a UI value set at every load differs");
    for (const char(&t)[64] : s.cleared_text)
        if (t[0]) fuzz_fail("a cleared text survived the load");
    if (s.cleared_word || s.logged_in || s.news_open || s.news || s.session_key[0]) fuzz_fail("a per-login field survived");
    if (!ended(s.name) || !ended(s.passwd) || !ended(s.udid) || !ended(s.qname) || !ended(s.email) ||
        !ended(s.uid) || !ended(s.display_name) || !ended(s.lid) || !ended(s.web_name) || !ended(s.web_token) ||
        !ended(s.web_passwd))
        fuzz_fail("a text runs past its array");
    if (strlen(s.udid) < 32) fuzz_fail("no device id");
    if (s.name[0]) {
        if (!hex32(s.web_passwd) || strncmp(s.lid, "g:", 2) != 0 || s.web_token[0]) fuzz_fail("named identity");
    } else if (s.qname[0]) {
        if (!hex32(s.web_token) || strncmp(s.lid, "q:", 2) != 0 || s.web_passwd[0]) fuzz_fail("quick-play identity");
    } else if (s.lid[0] || s.web_name[0] || s.web_token[0] || s.web_passwd[0]) {
        fuzz_fail("identity without an account");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string docs = FuzzHome::fresh_docs();
    FuzzBytes in(data, size);
    // Which files exist, and where the cloud image ends and the local begins.
    uint8_t have = in.u8();
    size_t cloud_len = in.u16();
    std::string cloud = in.bytes(cloud_len);
    std::string local = in.rest();
    if (have & 1) FuzzHome::put(docs + "/" + SETTINGS_CLOUD_FILE, cloud);
    if (have & 2) FuzzHome::put(docs + "/" + SETTINGS_LOCAL_FILE, local);

    static Settings s, again;
    memset(&s, 0, sizeof(s));
    s.load();
    check(s);
    s.save();
    std::string saved_cloud = driver_doc_load(SETTINGS_CLOUD_FILE);
    std::string saved_local = driver_doc_load(SETTINGS_LOCAL_FILE);
    if (saved_cloud.size() != sizeof(Settings) || saved_local != saved_cloud ||
        memcmp(saved_cloud.data(), &s, sizeof(Settings)) != 0)
        fuzz_fail("the saved files are not the record");
    memset(&again, 0xa5, sizeof(again));
    again.load();
    if (memcmp(&s, &again, sizeof(Settings)) != 0) fuzz_fail("the record did not load back as it was saved");
    return 0;
}
