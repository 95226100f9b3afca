// mods_api: the ModsAPI object, its error record, the mod log and the mod
// parameters with their immediate effects on the world and the screens.
#include "mods/mods_api.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "ruvezor/util/qel_driver.h"
#include "ruvezor/util/qel_driver_csteam.h"  // driver_cloud_load / driver_cloud_save
#include "ruvezor/util/qel_log.h"


static constexpr int MODS_LOG_MAX = 255;     // lines kept in the mod log
static constexpr int MODS_DATA_MAX = 65536;  // largest stored data blob

// ==== object ===================================================================

ModsAPI::ModsAPI(ModsGame& game_) : game(game_), params(VAR_DICT, 0) { pages = game.mods_pages(*this); }

ModsAPI::~ModsAPI() {
    data_flush(true);
    net.deinit();
}

// ==== error record ===============================================================

void ModsAPI::api_error_set(const std::string& text) {
    api_error_text = text;
    api_error_flag = 1;
}

int ModsAPI::api_error() { return api_error_flag; }

std::string ModsAPI::api_error_get() { return api_error_text; }

void ModsAPI::api_error_clear() {
    api_error_text.clear();
    api_error_flag = 0;
}

int ModsAPI::_item_ok(int n, const char* label) {
    if (zt_slot(n) && game.world.items[n].in_use == 1) return 1;
    log_printf("ModsAPI::%s:%d invalid item\n", label, n);
    api_error_set("invalid item");
    return 0;
}

// ==== log ========================================================================

void ModsAPI::log_entry(const std::string& text) {
    std::string t = str_replace(text, "\t", "    ");
    for (char& c : t)
        if (c == '\r') c = '\n';
    size_t start = 0;
    while (start <= t.size()) {
        size_t end = t.find('\n', start);
        if (end == std::string::npos) end = t.size();
        std::string piece = t.substr(start, end - start);
        start = end + 1;
        if (piece.find_first_not_of(' ') == std::string::npos) continue;
        log.insert(log.begin(), piece);
        _qel_iprintf(nullptr, 0, nullptr, 0, "$ %s\n", piece.c_str());
        if ((int)log.size() > MODS_LOG_MAX) log.resize(MODS_LOG_MAX);
    }
}

void ModsAPI::log_printf(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    std::string text = str_vformat(format, ap);
    va_end(ap);
    if (!text.empty()) log_entry(text);
}

void ModsAPI::error_note(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    if (line.find_first_not_of(' ') == std::string::npos) return;
    if (error_first.empty()) error_first = line;
    error_last = line;
}

// ==== parameters =================================================================

var ModsAPI::param_get(const std::string& key) {
    if (key == "data") {
        // The stored blob lives in the mod's data file, not in the dict.
        if (data_dirty) return var(data_waiting);
        if (scripts.empty()) return var("");
        return var(_data_load(scripts[0].name));
    }
    if (!params.__has__(var(key))) return var();
    return var(params[key.c_str()].__copy__());
}

void ModsAPI::param_set(const std::string& key, const var& value) {
    if (key == "state" && value.__type__() == VAR_STRING && value.__str__() == "settings") {
        game.mods_settings_popup();
        return;
    }

    bool has = params.__has__(var(key));
    bool changed = has ? !params[key.c_str()].__eq__(value) : value.__type__() != VAR_NONE;
    if (changed) params.__set__(var(key), var(value.__copy__()));

    Zentar& world = game.world;
    if (key == "bkgr_src") {
        str_put(world.bkgr_src, sizeof(world.bkgr_src), value.__str__());
        world.ext_changed = 1;
    } else if (key == "bkgr_stars") {
        world.bkgr_stars = (int32_t)value;
        world.ext_changed = 1;
    } else if (key == "bkgr_zoom") {
        world.bkgr_zoom = (float)value.__num__();
        world.ext_changed = 1;
    } else if (key == "bkgr_dx") {
        world.bkgr_dx = (float)value.__num__();
        world.ext_changed = 1;
    } else if (key == "bkgr_dy") {
        world.bkgr_dy = (float)value.__num__();
        world.ext_changed = 1;
    } else if (key == "data") {
        std::string data = value.__str__();
        // What _data_save would refuse leaves the stored blob as it is.
        if (!scripts.empty() && !data.empty() && data.size() <= (size_t)MODS_DATA_MAX) {
            if (data_dirty && data_file != scripts[0].name) data_flush(true);
            data_waiting = std::move(data);
            data_file = scripts[0].name;
            data_dirty = 1;
            data_flush(false);
        }
    } else if (key == "status") {
        str_put(world.status, sizeof(world.status), value.__str__());
    }

    if (!changed || game.headless) return;

    if (key == "html") {
        _gui_init(0);
    } else if (key == "xhtml" || key == "tabs") {
        _gui_init(1);
    } else if (key == "state") {
        game.mods_trans_grab();
        params.__set__(var("remove_quit"), var(false));
        _gui_init(1);
        game.ui_follow();
    }
}

// ==== GUI pages ===================================================================

void ModsAPI::_gui_init(int keep) {
    if (pages) pages->gui_init(keep);
}

var ModsAPI::gui_get(const std::string& name) { return pages ? pages->gui_get(name) : var(); }

void ModsAPI::gui_set(const std::string& name, const var& value) {
    if (pages) pages->gui_set(name, value);
}

void ModsAPI::gui_paint() {
    if (pages) pages->gui_paint();
}

// ==== stored data ================================================================

std::string ModsAPI::_name_clean(const std::string& name) {
    std::string out;
    for (size_t i = 0; i < name.size() && i < 16; i++) {
        char c = name[i];
        if (c == '.') break;
        bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        out += keep ? c : '_';
    }
    if (out.empty()) out.push_back('_');
    return out;
}

void ModsAPI::_data_save(const std::string& name, const std::string& data) {
    if (data.empty() || data.size() > (size_t)MODS_DATA_MAX) return;
    std::string file = _name_clean(name) + ".bin";
    driver_cloud_save(file.c_str(), data.data(), (int)data.size());
}

void ModsAPI::data_flush(bool now) {
    if (!data_dirty) return;
    long second = (long)(driver_timer_get_ticks() / 1000);
    if (!now && second == data_saved_second) return;
    _data_save(data_file, data_waiting);
    data_dirty = 0;
    data_saved_second = second;
}

std::string ModsAPI::_data_load(const std::string& name) {
    std::string file = _name_clean(name) + ".bin";
    return driver_cloud_load(file.c_str());
}
