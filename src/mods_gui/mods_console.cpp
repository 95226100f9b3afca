// mods_console: the mod console panel, its prompt and the log status band.
#include "mods_gui/mods_console.h"

#include <GL/gl.h>

#include <algorithm>
#include <cstdio>

#include "mods/mods_lua.h"    // ModsBase
#include "mods_gui/mods_gui.h"
#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_gfx_draw.h"
#include "ruvezor/util/qel_gfx_image.h"
#include "ruvezor/util/qel_gui_textinput.h"
#include "shell/game_video.h"  // game_get_sw, game_get_sh

static constexpr const char* CONSOLE_FONT = "font-console";
static constexpr int CONSOLE_FONT_SIZE = 20;
static constexpr int CONSOLE_INPUT_MAX = 1024;  // bytes a prompt line may hold
static constexpr float CONSOLE_TOP_TAP = 44;    // a release above this toggles the console
static constexpr int CONSOLE_SHADE = 170;       // alpha of the dark backdrop

Container& modsapi_console(ModsAPI* api) {
    ModsGui* gui = mods_gui_of(api);
    if (!gui) {
        static Container none;  // no pages, no prompt
        none = Container();
        return none;
    }
    if (!gui->console_built) modsapi_console_gui_rebuild(api);
    return gui->console;
}

void modsapi_console_gui_rebuild(ModsAPI* api) {
    ModsGui* gui = mods_gui_of(api);
    if (!gui) return;
    gui->console_built = 1;
    Container& root = gui->console;
    // A mod may rewrite its page every frame, and each rewrite comes here:
    // the line being typed outlives the old prompt, and so do its focus and
    // caret (a fresh focus would select the whole line for the next key).
    std::string typing;
    int32_t caret = 0, anchor = 0;
    bool focused = false;
    if (auto* old = dynamic_cast<TextInput*>(root.find("input"))) {
        typing = old->value;
        caret = old->caret, anchor = old->anchor;
        focused = old->style.focus == 1;
    }
    root = Container();  // drops the old prompt

    int font = font_load(CONSOLE_FONT, CONSOLE_FONT_SIZE);
    int sw = game_get_sw(), sh = game_get_sh();

    Table* table = new Table();
    table->name = "table";

    Label* prompt = new Label(font, "> ");
    prompt->col = 0, prompt->row = 0;
    table->add(prompt, 0, 0);

    TextInput* input = new TextInput(font, CONSOLE_INPUT_MAX);
    input->name = "input";
    input->focusable = 1;
    float lw = font_get_width(font, "> ");
    float iw = (float)sw - lw;
    input->style.declared().width = iw > 0 ? iw : 0;
    var action(VAR_DICT, 0);
    action.__set__(var("type"), var("input"));
    input->on_change = action;
    input->value = typing;
    input->_mktxt2();
    input->col = 1, input->row = 0;
    table->add(input, 0, 0);

    // The blank line under the prompt, where the status band is drawn.
    Label* blank = new Label(font, " ");
    blank->col = 0, blank->row = 1;
    table->add(blank, 0, 0);

    root.add(table, 0, 0);
    // Laid out now, so that its height can put it on the bottom edge.
    table->_resize();
    table->y = (float)sh - table->oh;
    // Only while shown, as painting would: a hidden prompt need not take the
    // focus (and log it) on every rewrite.
    if (focused && (api->console_visible & 1)) input->_focus();
    input->caret = caret, input->anchor = anchor;
    input->_adjust(true, true);
}

// The widget "input" of the console, or null.
static Widget* _console_input(Container& root) { return root.find("input"); }

int mods_event_handle(ModsGame& game, Event e) {
    ModsAPI* api = mods_api_of(game);
    if (!api) return 0;

    if (e.type == GUI_EV_KEYDOWN) {
        if (e.key == MODS_KEY_F1) {
            mods_console_toggle(game);
            return 1;
        }
        if (e.key == MODS_KEY_F2) {
            mods_log_clear(game);
            return 1;
        }
        if (e.key == MODS_KEY_F5) {
            // The mod that runs, not Game.mod_file: the menus have put that back.
            mods_restart_current(game);
            return 1;
        }
    }

    if (!(api->console_visible & 1)) return 0;

    if (e.type == GUI_EV_RELEASE && e.y < CONSOLE_TOP_TAP) {
        mods_console_toggle(game);
        return 1;
    }
    if (e.type == GUI_EV_KEYDOWN && e.key == MODS_KEY_ESCAPE) {
        mods_console_toggle(game);
        return 1;
    }

    Container& root = modsapi_console(api);
    if (e.type == GUI_EV_KEYDOWN && (e.key == MODS_KEY_F3 || e.key == MODS_KEY_UP)) {
        if (Widget* input = _console_input(root)) input->set_value(var(api->console_last));
        return 1;
    }

    var r = root.event(&e);
    if (r.__type__() == VAR_DICT && r.__has__(var("type")) && r["type"].__str__() == "input") {
        Widget* input = _console_input(root);
        std::string text = input ? input->get_value().__str__() : std::string();
        api->log_entry("> " + text);
        // The line may restart the mod; keep nothing of api past this call.
        std::string keep = text;
        if (ModsBase* engine = mods_engine_of(game)) engine->script(keep.c_str(), "console");
        if (ModsAPI* now = mods_api_of(game); now == api) {
            api->console_last = keep;
            if (Widget* in = _console_input(modsapi_console(api))) in->set_value(var(""));
        }
    }
    return 1;
}

// Sum of the positions of w and its parents, less their scroll offsets.
static float _abs_top(Widget* w) {
    float y = w->y;
    for (Container* p = w->parent; p; p = p->parent) y += p->y - p->sy;
    return y;
}

void modsapi_log_paint(ModsAPI* api) {
    if (!api) return;
    int font = font_load(CONSOLE_FONT, CONSOLE_FONT_SIZE);
    float lh = font_get_height(font, "", 0);
    float sw = (float)game_get_sw(), sh = (float)game_get_sh();
    bool shown = api->console_visible & 1;
    Container& root = modsapi_console(api);
    int black = gfx_img_load("black");

    if (shown) {
        glColor4ub(0, 0, 0, CONSOLE_SHADE);
        gfx_img_blit(black, 0, 0, sw, sh);
        glColor4ub(255, 255, 255, 255);
        if (!root.focused) root._find_focus();
        _mods_gui_layout(root);
        for (Widget* c : root.children) {
            GfxRect r = {c->x, c->y, c->ow, c->oh};
            if (!_gfx_clip(&r, nullptr)) continue;
            gfx_translate(c->x, c->y);
            c->_paint();
            gfx_translate(-c->x, -c->y);
        }
    } else {
        root.w = root.ow = root.h = root.oh = 0;
    }

    if (api->log.empty() && !shown) return;

    glColor4ub(0, 0, 0, CONSOLE_SHADE);
    gfx_img_blit(black, 0, sh - lh, sw, lh);
    glColor4ub(255, 255, 255, 255);
    char band[160];
    snprintf(band, sizeof(band),
             ">> Console(%d): F1 = toggle; F2 = clear; F5 = restart; Mods auto-reload.",
             (int)api->log.size());
    // On a narrow logical screen (a large font size) the band would run off
    // the right edge and lose its last keys: there it is drawn smaller, to
    // fit, in the middle of its line.
    float bw = font_get_width(font, band);
    float k = bw > sw && bw > 0 ? sw / bw : 1.0f;
    glPushMatrix();
    glTranslatef(0, sh - lh + lh * (1 - k) / 2, 0);
    glScalef(k, k, 1);
    font_draw(font, band, 0, 0, 0, -1);
    glPopMatrix();

    if (!shown) return;

    Widget* table = root.find("table");
    float y = table ? _abs_top(table) : sh - lh;
    for (const std::string& line : api->log) {
        y -= font_get_height(font, line.c_str(), sw);
        font_draw(font, line.c_str(), 0, y, sw, -1);
        if (y < -lh) break;
    }
}
