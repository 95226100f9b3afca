// menus_settings: the settings screens, their tab bar and the match step
// they keep running underneath.
#include "screens/menus_settings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "mods/mods_game.h"  // _get_game_version_info
#include "shell/game_parts.h"
#include "shell/game_settings.h"
#include "shell/game_view.h"
#include "shell/game_video.h"
#include "shell/game_audio.h"
#include "net/net.h"
#include "markup/html2gui.h"
#include "screens/menus.h"
#include "world/preboard.h"
#include "ruvezor/util/qel_driver.h"
#include "screens/states_sim.h"

// ---- tab bar and match step -------------------------------------------------------

void settings_tabs_init(GameParts& game, Container& root, const char* current) {
    if (!current) current = "";
    int n = 4;
    std::string m = "<table width=320><tr>";
    bool account = menus_do_account(game);
    if (account) {
        n++;
        m += "<td><input type='button' icon='icon-account' value='Account' onclick='tab:settings:account' "
             "name='tab:settings:account' class='tab' pseudo='first' width=$WIDTH height=$HEIGHT  />";
    }
    m += "<td><input type='button' icon='icon-audio' value='Audio' onclick='tab:settings:audio'  "
         "name='tab:settings:audio' class='tab' ";
    if (!account) m += " pseudo='first' ";
    m += " width=$WIDTH  height=$HEIGHT  />";
    m += "<td><input type='button' icon='icon-video' value='Video' onclick='tab:settings:video' "
         "name='tab:settings:video' class='tab' width=$WIDTH  height=$HEIGHT  />";
    // Account names starting with '~' belong to developers.
    if (game.settings.name[0] == '~') {
        n++;
        m += "<td><input type='button' icon='icon-clans' value='Extreme' onclick='tab:settings:extreme' "
             "name='tab:settings:extreme' class='tab' width=$WIDTH  height=$HEIGHT  />";
    }
    m += "<td><input type='button' icon='icon-controls' value='Control' onclick='tab:settings:controls' "
         "name='tab:settings:controls' class='tab' width=$WIDTH  height=$HEIGHT /><td><input type='button' "
         "value='More' icon='icon-more' onclick='tab:settings:options'  name='tab:settings:options' class='tab'  "
         "width=$WIDTH  height=$HEIGHT  pseudo='last' />";
    m += "</tr></table>";
    m = str_replace(m, "$WIDTH", std::to_string(game_get_sw() / n));

    char from[96], to[96];
    snprintf(from, sizeof(from), "name='tab:settings:%s' class='tab'", current);
    snprintf(to, sizeof(to), "name='tab:settings:%s' class='tab0'", current);
    m = str_replace(m, from, to);

    Box* box = new Box(html2gui(m, var(VAR_DICT, 0)));
    box->style.declared().width = (float)game_get_sw();
    root.add(box, 0, 0);

    char name[64];
    snprintf(name, sizeof(name), "tab:settings:%s", current);
    if (Widget* w = root.find(name)) w->_focus();
}

void settings_loop(GameParts& game, float dt) {
    if (game.client_net || game.server_net) run_the_game_sim(game, dt);
}

// ---- screens that only pass on ----------------------------------------------------

void MenusSettings::init() {
    game->view.next(preboard_get() == 1 ? "menus_login" : "menus_settings_audio", -1);
}

void MenusSettingsPopup::init() { game->view.next("menus_settings_audio", -1); }

void MenusSettingsAccount::init() { game->view.next("menus_login", 2); }

// ---- content screens: shared ------------------------------------------------------

// A widget value truncated to an int; what isn't a finite number in range
// reads as 0 rather than overflowing the conversion.
static int _settings_int(var v) {
    int t = v.__type__();
    if (t != VAR_NUMBER && t != VAR_STRING && t != VAR_BOOL) return 0;
    double d = v.__num__();
    if (!std::isfinite(d) || d <= -2147483649.0 || d >= 2147483648.0) return 0;
    return (int)d;
}

int MenusSettingsPage::_get(const char* name, bool* found) {
    Widget* w = root.find(name);
    if (found) *found = w != nullptr;
    return w ? _settings_int(w->get_value()) : 0;
}

void MenusSettingsPage::_set(const char* name, int value) {
    if (Widget* w = root.find(name)) w->set_value(var((double)value));
}

Widget* MenusSettingsPage::_place(Widget* content) { return menus_scrollbox(content, 0, -88); }

void MenusSettingsPage::init() {
    root = Container();
    menus_tabs_init_popup(*game, root, "settings", 1);
    settings_tabs_init(*game, root, tab);
    root.add(_place(html2gui(_markup(), var(VAR_DICT, 0))), 0, 44);
    _read();
}

// Leaving writes both files, also when a video change restarts the screen.
void MenusSettingsPage::deinit() { game->settings.save(); }

void MenusSettingsPage::paint() { menus_paint_common(root); }

void MenusSettingsPage::event(Event e) { _act(e, root.event(&e)); }

int MenusSettingsPage::_act(Event e, var action) { return menus_tabs_handle(*game, e, action); }

void MenusSettingsPage::loop(float dt) {
    menus_loop_common(root);
    if (!_write()) return;
    settings_loop(*game, dt);
}

// ---- audio ------------------------------------------------------------------------

std::string MenusSettingsAudio::_markup() {
    return "<table class='box'><tr><td><p>Music Volume</p><td><input type='slider' low='0' high='100' step=1 "
           "name='music' onchange='music' /><tr><td><p>SFX Volume</p><td><input type='slider' low='0' "
           "high='100' step=1 name='sfx' onchange='sfx' /></table>";
}

Widget* MenusSettingsAudio::_place(Widget* content) {
    Box* box = new Box(content);
    box->style.declared().width = (float)game_get_sw();
    box->style.declared().height = (float)(game_get_sh() - 88);
    return box;
}

void MenusSettingsAudio::_read() {
    _set("music", game->settings.music);
    _set("sfx", game->settings.sfx);
}

bool MenusSettingsAudio::_write() {
    // Either level is applied at once, so the music playing now follows the
    // slider instead of keeping its old level until the next piece.
    bool found = false, changed = false;
    int music = _get("music", &found);
    if (found && music != game->settings.music) {
        game->settings.music = music;
        changed = true;
    }
    int sfx = _get("sfx", &found);
    if (found && sfx != game->settings.sfx) {
        game->settings.sfx = sfx;
        changed = true;
    }
    if (changed) game->audio.volume_reset();
    return true;
}

int MenusSettingsAudio::_act(Event e, var action) {
    // The test sound, so the player hears the new level.
    if (action.__type__() == VAR_DICT && action.__has__(var("type")) && action["type"].__str__() == "onchange" &&
        action.__has__(var("value")) && action["value"].__str__() == "sfx")
        _sfx_play("ping");
    return MenusSettingsPage::_act(e, action);
}

// ---- video ------------------------------------------------------------------------

struct _SettingsSize {
    int w, h;
};

static const _SettingsSize SETTINGS_SIZES[] = {{480, 320},  {640, 480},  {640, 640},  {640, 960},  {1136, 640},
                                               {800, 600},  {1024, 768}, {1280, 720}, {1600, 900}, {1920, 1080}};
static const int SETTINGS_VRES_MAX = 23;

// Options per row on the video screen, never below one.
static int _settings_cols() {
    int c = (game_get_sw() - 44) / 90;
    return c < 1 ? 1 : c;
}

// Auto, then the sizes largest area first, c to a row.
static std::string _settings_vres(int c) {
    std::vector<_SettingsSize> sizes;
    for (const _SettingsSize& s : SETTINGS_SIZES) {
        bool dup = false;
        for (const _SettingsSize& t : sizes) dup = dup || (t.w == s.w && t.h == s.h);
        if (!dup) sizes.push_back(s);
    }
    std::stable_sort(sizes.begin(), sizes.end(), [](const _SettingsSize& a, const _SettingsSize& b) {
        return (long long)a.w * a.h > (long long)b.w * b.h;
    });
    if ((int)sizes.size() > SETTINGS_VRES_MAX) sizes.resize(SETTINGS_VRES_MAX);

    std::string m = "<tr><td><input type='option' name='vres' value='-1' title='Auto' />";
    int pos = 1;
    for (const _SettingsSize& s : sizes) {
        if (pos % c == 0) m += "<tr>";
        char opt[160];
        snprintf(opt, sizeof(opt), "<td><input type='option' name='vres' value='%d' title='%dx%d' />",
                 s.w << 16 | s.h, s.w, s.h);
        m += opt;
        pos++;
    }
    return m;
}

std::string MenusSettingsVideo::_markup() {
    int c = _settings_cols();
    std::string m = "<table>";
    m += "<tr><td align=left><h2 class='header'>Mode</h2><tr><td class='box'><table><tr><td><input type='option' "
         "name='vfull' value='1' title='Fullscreen' /><td><input type='option' name='vfull' value='-1' "
         "title='Windowed' /></table><tr><td><p>&nbsp;</p>";
    m += "<tr><td align=left><h2 class='header'>Font Size</h2><tr><td class='box'><table><tr><td><input "
         "type='option' name='vsize' value='320' title='X-Large' /><td><input type='option' name='vsize' "
         "value='400' title='Large' /><td><input type='option' name='vsize' value='480' title='Medium' />";
    if (c < 6) m += "<tr>";
    m += "<td><input type='option' name='vsize' value='640' title='Small' /><td><input type='option' "
         "name='vsize' value='800' title='X-Small' /><td><input type='option' name='vsize' value='960' "
         "title='Tiny' /></table>";
    m += "<tr><td><p>&nbsp;</p>";
    m += "<tr><td align=left><h2 class='header'>Resolution</h2><tr><td class='box'><table>$VRES";
    m += "</table>";
    m += "<tr><td><p>&nbsp;</p>";
    if (menus_do_account(*game)) {
        m += "<tr><td align=left><h2 class='header'>Game Size</h2><tr><td class='box'><table><tr><td><input "
             "type='option' name='gsize' value='320' title='23 Planets' /><td><input type='option' name='gsize' "
             "value='640' title='48 Planets' /></table>";
        m += "<tr><td><p>&nbsp;</p>";
    }
    m += "<tr><td align=left><h2 class='header'>Quality</h2><tr><td class='box'><table><tr><td><input "
         "type='option' name='vquality' value='-1' title='Battery' width=60 /><td><input type='option' "
         "name='vquality' value='1' title='Good' width=60  /><td><input type='option' name='vquality' value='2' "
         "title='Better' width=60  /><td><input type='option' name='vquality' value='3' title='Best' width=60  "
         "/></table><tr><td><p>&nbsp;</p>";
    m += "</table>";
    return str_replace(m, "$VRES", _settings_vres(c));
}

void MenusSettingsVideo::_read() {
    Settings& s = game->settings;
    _set("vfull", s.vfull);
    _set("vsize", s.vsize);
    _set("vres", s.vres);
    _set("gsize", s.gsize);
    _set("vquality", s.vquality);
}

bool MenusSettingsVideo::_write() {
    struct Field {
        const char* name;
        int32_t Settings::*field;
        bool mode;  // changing it needs a new video mode
    };
    static const Field FIELDS[] = {{"vfull", &Settings::vfull, true},
                                   {"vres", &Settings::vres, true},
                                   {"vsize", &Settings::vsize, true},
                                   {"vquality", &Settings::vquality, false},
                                   {"gsize", &Settings::gsize, false}};
    bool chvideo = false;
    for (const Field& f : FIELDS) {
        bool found = false;
        int v = _get(f.name, &found);
        if (!found || v == game->settings.*f.field) continue;
        game->settings.*f.field = v;
        chvideo = chvideo || f.mode;
    }
    if (!chvideo) return true;
    // Rebuilds this screen: nothing of the old widgets may be touched after it.
    game->do_chvideo();
    return false;
}

// ---- controls and options ---------------------------------------------------------

struct _SettingsUi {
    const char* name;
    int32_t Settings::*field;
};

// Each screen only has some of these; the others are skipped.
static const _SettingsUi SETTINGS_UI[] = {
    {"ui_box", &Settings::ui_box},
    {"ui_double_select", &Settings::ui_double_select},
    {"ui_double_reinforce", &Settings::ui_double_reinforce},
    {"ui_nonplayer_select", &Settings::ui_nonplayer_select},
    {"ui_percent", &Settings::ui_percent},
    {"ui_scroll", &Settings::ui_scroll},
    {"ui_wheel_invert", &Settings::ui_wheel_invert},
    {"ui_slider", &Settings::ui_slider},
    {"ui_num_chat", &Settings::ui_num_chat},
    {"ui_right_only", &Settings::ui_right_only},
    {"ui_drag_drop", &Settings::ui_drag_drop},
    {"ui_lefty", &Settings::ui_lefty},
    {"ui_colorblind", &Settings::ui_colorblind},
    {"ui_multitouch", &Settings::ui_multitouch},
};

static void _settings_ui_read(Container& root, Settings& s) {
    for (const _SettingsUi& u : SETTINGS_UI)
        if (Widget* w = root.find(u.name)) w->set_value(var((double)(s.*u.field)));
}

static void _settings_ui_write(Container& root, Settings& s) {
    for (const _SettingsUi& u : SETTINGS_UI)
        if (Widget* w = root.find(u.name)) s.*u.field = _settings_int(w->get_value());
}

std::string MenusSettingsControls::_markup() {
    return "<table class='box'><tr><td><table><td colspan=1><p align=center>Default<br/>Percent</p><td colspan=1 "
           "align=center><input type='slider' low='5' high='100' step=5 name='ui_percent' /></table><tr><td><table>"
           "<tr><td><p align=center>Left-Handed<br/>Mode</p><td align=left><input type='toggle' width=64 "
           "name='ui_lefty' /><tr><td><p align=center>Color-Blind<br/>Mode</p><td align=left><input type='toggle' "
           "width=64 name='ui_colorblind' /><tr><td><p align=center>Percent<br/>Slider</p><td align=left><input "
           "type='toggle' width=64 name='ui_slider' /></table></table>";
}

void MenusSettingsControls::_read() { _settings_ui_read(root, game->settings); }

bool MenusSettingsControls::_write() {
    _settings_ui_write(root, game->settings);
    return true;
}

std::string MenusSettingsOptions::_markup() {
    return "<table class='box'><tr><td><table><tr><td><p align=center>Drag<br/>and Drop</p><td align=left><input "
           "type='toggle' width=64 name='ui_drag_drop' /><tr><td><p align=center>Box Select</p><td align=left>"
           "<input type='toggle' width=64 name='ui_box' /><tr><td><p align=center>Double Tap<br/>Select All</p>"
           "<td align=left><input type='toggle' width=64 name='ui_double_select'/><tr><td><p align=center>"
           "Right-Click<br/>Required</p><td align=left><input type='toggle' width=64 name='ui_right_only' />"
           "</table></table>";
}

void MenusSettingsOptions::_read() { _settings_ui_read(root, game->settings); }

bool MenusSettingsOptions::_write() {
    _settings_ui_write(root, game->settings);
    return true;
}

// ---- extreme ----------------------------------------------------------------------

std::string MenusSettingsExtreme::_markup() {
    std::string m =
        "<table><tr><td><p class='box3' width=280 align=center>WARNING: FOR EXTREME USERS ONLY.</p><tr><td>&nbsp;"
        "<tr><td><table class='box' xwidth=160><tr><td><p align=center>Debug HUD</p><td align=left><input "
        "type='toggle' width=64 name='x_hud' /><tr><td><p align=center>Retro GFX</p><td align=left><input "
        "type='toggle' width=64 name='x_retro' /><tr><td><p align=center>Hide Pause</p><td align=left><input "
        "type='toggle' width=64 name='x_pause' /><tr><td><p align=center>Screenshot</p><td align=left><input "
        "type='toggle' width=64 name='x_hide' /></table><tr><td>&nbsp;<tr><td><p class='box2' width=280 "
        "align=center>EXTREME INFO:<br/>$RES<br/>$VER</p></table>";
    int w = 0, h = 0;
    driver_get_size(&w, &h);
    char res[96];
    snprintf(res, sizeof(res), "%dx%d (%.3fx)", w, h, (double)driver_get_scale());
    m = str_replace(m, "$RES", res);
    return str_replace(m, "$VER", _get_game_version_info());
}

static const _SettingsUi SETTINGS_X[] = {
    {"x_hud", &Settings::x_hud},
    {"x_retro", &Settings::x_retro},
    {"x_hide", &Settings::x_hide},
    {"x_pause", &Settings::x_pause},
};

void MenusSettingsExtreme::_read() {
    for (const _SettingsUi& u : SETTINGS_X) _set(u.name, game->settings.*u.field);
}

bool MenusSettingsExtreme::_write() {
    for (const _SettingsUi& u : SETTINGS_X) {
        bool found = false;
        int v = _get(u.name, &found);
        if (found) game->settings.*u.field = v;
    }
    return true;
}
