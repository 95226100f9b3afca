// zentar_ui: the in-match controls. Pointer gestures pick planets and fleets
// and turn into send and redirect commands; keys, the wheel and the slider set
// the send percentage; the view transform maps the screen onto the world.
//
// The Game holds one ZentarUI beside its Zentar. Events come in as logical
// screen coordinates; everything past the slider and overview is in world
// units (to_world). The record is set up lazily: `inited` 0 makes the next
// event, paint, loop or transform call run ui_init.
#pragma once

#include <cstdint>
#include <map>

#include "ruvezor/util/Matrices.h"
#include "ruvezor/util/qel_driver.h"  // Event
#include "world/zentar.h"

// Interface options, copied whole from Settings (64 words from ui_box on).
struct UIOptions {
    int32_t ui_box;               // > 0: drag on empty space draws a rubber band
    int32_t ui_double_select;     // > 0: second tap on the only selected planet selects all
    int32_t ui_double_reinforce;  // > 0: second tap on a selected planet sends to it
    int32_t ui_nonplayer_select;
    int32_t ui_percent;           // starting percentage, 0 = 50
    int32_t ui_scroll;
    int32_t ui_wheel_invert;      // > 0: wheel direction reversed
    int32_t ui_slider;            // > 0: the percentage slider is shown
    int32_t ui_num_chat;
    int32_t ui_right_only;        // > 0: earlier selections send with the right button only
    int32_t ui_drag_drop;         // > 0: drag-and-drop, else tap mode
    int32_t ui_lefty;             // > 0: slider on the left
    int32_t ui_multitouch;
    int32_t ui_colorblind;
    int32_t chat_height[3];
    int32_t ui_rest[47];
};
static_assert(sizeof(UIOptions) == 64 * 4);

// One pointer's gesture under way (ten 32-bit words).
struct PointerSlot {
    int32_t active;  // non-zero while the pointer is in use
    int32_t target;  // item aimed at
    int32_t over;    // planet under the pointer
    int32_t source;  // item pressed at the start; negated when it was already selected
    int32_t pressed;
    int32_t box;     // rubber band: 0 none, -1 pending, 1 active
    float box_x0, box_y0, box_x1, box_y1;
};
static_assert(sizeof(PointerSlot) == 40);

// Multi-touch tracker. Touches are not tracked on this platform, so the map
// stays empty; it only keeps its reset state.
class UITracker {
public:
    std::map<int, Event> pointers;
    int32_t count = 0;
    float factor = 1.0f;
    int32_t flags[2] = {0, 0};

    void track_reset();
    int track_size() const { return count; }
    bool event(const Event& e);
    void loop();
};

inline constexpr int UI_SEL = 4096;   // selection slots, one per item slot
inline constexpr int UI_PTRS = 12;    // pointer slots; the mouse is 1
inline constexpr float UI_EDGE = 44;  // slider width and margin

struct ZentarUI {
    int32_t percent = 0;
    int32_t slider_prev = 0;
    Event slider_press{};
    int32_t percent_next = 0;
    int32_t gmap_mode = 0;
    int32_t gmap_icon = 0;
    Event gmap_press{};
    float gmap_window[4]{};
    float view_target[4]{};
    int32_t sel[UI_SEL]{};
    PointerSlot ptr[UI_PTRS]{};
    int32_t screen_set = 0;
    float screen[4]{};
    float area[4]{};
    float rot = 0;
    float scale = 0;  // like every Game member the record starts all zero;
    float zoom = 0;   // ui_init gives these their working values
    float pan_x = 0, pan_y = 0;
    Matrix4 to_world{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    Matrix4 to_screen{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    float to_screen_gl[16]{};
    float view[4]{};
    int32_t orient_lock = 0;
    int32_t inited = 0;
    UIOptions options{};
    UITracker* tracker = nullptr;
};

// ---- state and view transform (zentar_ui_track.cpp) ----------------------------------

void ui_init(Zentar& world, ZentarUI& ui, int force);
void ui_reset_all(Zentar& world, ZentarUI& ui);
void ui_reset(Zentar& world, ZentarUI& ui, int id);
void ui_calc_trans(Zentar& world, ZentarUI& ui);
void ui_view_set(Zentar& world, ZentarUI& ui, float x, float y, float w, float h);
int ui_loop(Zentar& world, ZentarUI& ui);

void _ui_calc_view(Zentar& world, ZentarUI& ui);
void _ui_calc_trans(Zentar& world, ZentarUI& ui);
void _ui_calc_matrix(Zentar& world, ZentarUI& ui);
// The whole map as x, y, w, h.
void _ui_zoom_out(Zentar& world, ZentarUI& ui, float out[4]);
void _ui_reset_track(ZentarUI& ui);
void _ui_reset_controls_all(ZentarUI& ui);
void _ui_reset_controls(ZentarUI& ui, int id);

// A screen point through to_world, and a movement through its linear part.
Vector3 ui_to_world(const ZentarUI& ui, float x, float y);
Vector3 ui_to_world_delta(const ZentarUI& ui, float dx, float dy);
// The logical drawing size.
void ui_draw_size(int* w, int* h);

// ---- gestures, keys and commands (zentar_ui_event.cpp) -------------------------------

// A send or redirect of the controls goes through these when they are set:
// the game's client glue (filled in by the Game), which takes the command of
// the world it runs and answers true. Otherwise the command acts on the
// world at once.
struct ZentarUICommands {
    bool (*send)(Zentar& world, int percent, int from, int to);
    bool (*redirect)(Zentar& world, int fleet, int to);
};
extern ZentarUICommands zentar_ui_commands;

int ui_event(Zentar& world, ZentarUI& ui, int user, Event e);
int _ui_event(Zentar& world, ZentarUI& ui, int user, Event e, int allow);
Item* ui_find(Zentar& world, ZentarUI& ui, int user, float x, float y, int own_equal);
Item* ui_find_button(Zentar& world, float x, float y);
int ui_event_button(Zentar& world, ZentarUI& ui, Event e);
void ui_event_motion(Zentar& world, ZentarUI& ui, int user, Event e);
void _ui_event_motion(Zentar& world, ZentarUI& ui, int user, int id, int button, Event e);
void _ui_event_motion_do(Zentar& world, ZentarUI& ui, int user, int id, int button, Event e);
int ui_to_set(Zentar& world, ZentarUI& ui, int user, int id, int target);
void ui_deploy(Zentar& world, ZentarUI& ui, int user, int id);
void ui_select_all(Zentar& world, ZentarUI& ui, int user, int id);
void ui_box(Zentar& world, ZentarUI& ui, int user, int id, int final);

// ---- slider and map overview (zentar_ui_event.cpp) -----------------------------------

struct UIRect {
    float x, y, w, h;
};

int ui_slider(Zentar& world, ZentarUI& ui, int user, Event e);
UIRect ui_slider_rect(Zentar& world, ZentarUI& ui);
// Percentage for a height on the slider of height h.
int ui_slider_percent(float y, float h);
int ui_gmap(Zentar& world, ZentarUI& ui, int user, Event e);
UIRect ui_gmap_rect();
void ui_gmap_loop(Zentar& world, ZentarUI& ui);
void ui_zoom_out(Zentar& world, ZentarUI& ui);

// ---- slider and zoom icon drawing (zentar_ui_paint.cpp) ------------------------------

// The percentage in the corner cell and the slider strip, in screen units.
void ui_paint_slider(Zentar& world, ZentarUI& ui);
// The zoom icon while zoomed into the overview.
void ui_paint_gmap(Zentar& world, ZentarUI& ui);
