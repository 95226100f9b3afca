// The whole game in the test's own process, run the way main() runs it, with
// an offscreen window in a fresh root: bin/ (the working directory), data/
// (the game's data), home/ (HOME, so the documents start empty). The player's
// hand is SDL events pushed into the window; what the player sees is read
// back from the screens. Standard output, which carries every log line at
// once, goes to <root>/stdout.txt while the game runs.
#pragma once

#include <gtest/gtest.h>

#include <SDL.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/game.h"
#include "app/gamewrap.h"
#include "mods/mods_api.h"
#include "mods_gui/mods_gui.h"
#include "shell/trans.h"  // game_trans_active
#include "screens/menus.h"
#include "screens/menus_login.h"
#include "screens/menus_main.h"
#include "screens/menus_news.h"
#include "screens/states.h"
#include "screens/ext_store.h"
#include "screens/menus_webiap.h"
#include "z2_test_util.h"

namespace z2test {

// A fixed-size text field as a string.
inline std::string field(const char* f, size_t n) { return std::string(f, strnlen(f, n)); }

class Player {
public:
    std::string root;

    explicit Player(const std::vector<std::string>& options) {
        char tmpl[] = "/tmp/z2player-XXXXXX";
        root = mkdtemp(tmpl);
        for (const char* d : {"/bin", "/home", "/tools"}) fs::create_directories(root + d);
        fs::create_directory_symlink(Z2_DATA_DIR, root + "/data");
        // The browser: every page the game opens is noted in home/opened.txt.
        spit(root + "/tools/xdg-open", std::string("#!/bin/sh\necho \"$1\" >> \"$HOME/opened.txt\"\n"));
        chmod((root + "/tools/xdg-open").c_str(), 0755);
        old_path_ = getenv("PATH") ? getenv("PATH") : "";
        setenv("PATH", (root + "/tools:" + old_path_).c_str(), 1);
        old_home_ = getenv("HOME") ? getenv("HOME") : "";
        setenv("HOME", (root + "/home").c_str(), 1);
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        old_cwd_ = fs::current_path();
        fs::current_path(root + "/bin");

        fflush(stdout);
        saved_stdout_ = dup(1);
        FILE* out = freopen((root + "/stdout.txt").c_str(), "w", stdout);
        (void)out;
        args_.push_back("zentar2");
        for (const std::string& o : options) args_.push_back(o);
        for (std::string& a : args_) argv_.push_back(a.data());
        argv_.push_back(nullptr);
        game_init((int)args_.size(), argv_.data());
    }

    ~Player() {
        quit();
        fflush(stdout);
        dup2(saved_stdout_, 1);
        close(saved_stdout_);
        if (testing::Test::HasFailure()) {
            std::string o = out();
            fprintf(stderr, "---- the game's output, last part ----\n%s\n",
                    o.substr(o.size() > 40000 ? o.size() - 40000 : 0).c_str());
        }
        fs::current_path(old_cwd_);
        setenv("PATH", old_path_.c_str(), 1);
        setenv("HOME", old_home_.c_str(), 1);
        fs::remove_all(root);
    }
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    Game& game() { return *game_this(); }
    void quit() {
        if (game_this()) game_deinit();
    }

    // The settings the game kept when it quit (zeroed when the file is not
    // one whole record).
    Settings saved_settings() {
        quit();
        Settings saved{};
        std::string cloud = doc("settings-cloud.dat");
        EXPECT_EQ(cloud.size(), sizeof(Settings));
        if (cloud.size() == sizeof(Settings)) memcpy(&saved, cloud.data(), sizeof(saved));
        return saved;
    }

    std::string docdir() const { return root + "/home/.local/share/Zentar 2"; }
    std::string doc(const std::string& name) const { return slurp(docdir() + "/" + name); }
    bool has_doc(const std::string& name) const { return fs::exists(docdir() + "/" + name); }
    std::string out() const {
        fflush(stdout);
        return slurp(root + "/stdout.txt");
    }

    // One frame, as main() runs it.
    void frame() { _main_tick(); }
    // Frames until done() holds; false after that many frames (a minute of
    // play unless told), or once the wait looks like a hang.
    bool until(const std::function<bool()>& done, long frames = 60 * kFps) {
        return step_until(done, [&] { frame(); }, frames);
    }
    void frames(int n) {
        for (int i = 0; i < n; i++) frame();
    }

    const char* screen() { return game().view.cur; }
    bool on(const char* name) { return strcmp(screen(), name) == 0; }

    // The widgets of the screen on top.
    Container* page() {
        State* s = game().view.get_state(0);
        if (auto* x = dynamic_cast<MenusPreboard*>(s)) return &x->root;
        if (auto* x = dynamic_cast<MenusMain*>(s)) return &x->root;
        if (auto* x = dynamic_cast<MenusLogin*>(s)) return &x->root;
        if (auto* x = dynamic_cast<MenusNews*>(s)) return &x->root;
        if (auto* x = dynamic_cast<MenusError*>(s)) return &x->root;
        if (auto* x = dynamic_cast<ExtStoreView*>(s)) return &x->root;
        if (auto* x = dynamic_cast<MenusWebIAP*>(s)) return &x->root;
        // A mod's own page: over a match, or the menu of a mod (practice).
        if (dynamic_cast<StatesCover*>(s) || on("states_menu")) return mods_gui_of(mods_api_of(game()));
        return nullptr;
    }
    // The widget of the top screen whose click gives this onclick value, or
    // whose name this is.
    Widget* widget(const std::string& key) {
        Container* p = page();
        if (!p) return nullptr;
        for (Widget* w : p->_list_descendants()) {
            if (w->name == key) return w;
            if (w->on_click.__type__() == VAR_DICT && w->on_click.__has__(var("value")) &&
                w->on_click["value"].__str__() == key)
                return w;
        }
        return nullptr;
    }
    // Every text the top screen shows, joined by newlines.
    std::string texts() {
        std::string out;
        Container* p = page();
        if (!p) return out;
        for (Widget* w : p->_list_descendants()) {
            if (auto* l = dynamic_cast<Label*>(w)) out += l->text + "\n";
            else if (const char* t = w->get_value_s())
                if (*t) out += std::string(t) + "\n";
        }
        return out;
    }

    // The policy gate of a first start: both boxes ticked, Continue, and the
    // main menu; false when a step fails.
    bool pass_gate() {
        return until([&] { return on("menus_preboard") && texts().find("Play fair") != std::string::npos; }) &&
               click("age") && click("tos") && click("continue") && until([&] { return on("menus_main"); });
    }

    // The pointer pressed and let go at a point in screen units, both seen in
    // one frame: what is under the point cannot move away in between.
    void tap(float x, float y) {
        press(x, y);
        release(x, y);
        frame();
    }
    // Frames until no screen change is being animated (it swallows the pointer).
    void settle() {
        until([&] { return !game_trans_active(game()); }, 10 * kFps);
        frame();
    }
    // Taps the middle of the widget once the screen has settled; false
    // without one.
    bool click(const std::string& key) {
        settle();
        Widget* w = widget(key);
        if (!w) return false;
        GfxRect r = w->get_abs_rect(true);
        tap(r.x + r.w / 2, r.y + r.h / 2);
        return true;
    }
    void press(float x, float y) { mouse(SDL_MOUSEBUTTONDOWN, x, y); }
    void move(float x, float y) { mouse(SDL_MOUSEMOTION, x, y); }
    void release(float x, float y) { mouse(SDL_MOUSEBUTTONUP, x, y); }
    void key(SDL_Keycode sym) {
        for (Uint32 type : {SDL_KEYDOWN, SDL_KEYUP}) {
            SDL_Event e{};
            e.type = type;
            e.key.keysym.sym = sym;
            SDL_PushEvent(&e);
        }
        frame();
    }

    // Where a world point is on the screen, in screen units.
    void on_screen(float wx, float wy, float& x, float& y) {
        const Matrix4& m = game().ui.to_screen;
        Vector3 p = m * Vector3{wx, wy, 0};
        x = p.x, y = p.y;
    }

private:
    void mouse(Uint32 type, float x, float y) {
        SDL_Window* w = SDL_GL_GetCurrentWindow();
        int ww = 0, wh = 0;
        if (w) SDL_GetWindowSize(w, &ww, &wh);
        // Screen units to window pixels.
        float fx = game_get_sw() > 0 ? (float)ww / (float)game_get_sw() : 1;
        float fy = game_get_sh() > 0 ? (float)wh / (float)game_get_sh() : 1;
        SDL_Event e{};
        e.type = type;
        if (type == SDL_MOUSEMOTION) {
            e.motion.x = (int)std::lround(x * fx);
            e.motion.y = (int)std::lround(y * fy);
            e.motion.state = held_ ? SDL_BUTTON_LMASK : 0;
        } else {
            e.button.button = SDL_BUTTON_LEFT;
            e.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
            e.button.x = (int)std::lround(x * fx);
            e.button.y = (int)std::lround(y * fy);
            held_ = type == SDL_MOUSEBUTTONDOWN;
        }
        SDL_PushEvent(&e);
    }

    std::vector<std::string> args_;
    std::vector<char*> argv_;
    std::string old_path_, old_home_;
    fs::path old_cwd_;
    int saved_stdout_ = -1;
    bool held_ = false;
};

}  // namespace z2test
