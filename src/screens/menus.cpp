// menus: registration of the menu screens, the menu background, the paint
// and loop the screens share, and the small helpers they use.
#include "screens/menus.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "shell/game_parts.h"
#include "shell/game_view.h"
#include "shell/game_video.h"
#include "shell/game_audio.h"
#include "net/net.h"
#include "screens/menus_login.h"
#include "screens/menus_main.h"
#include "screens/menus_misc.h"
#include "screens/menus_news.h"
#include "screens/menus_settings.h"
#include "world/preboard.h"
#include "ruvezor/util/qel_gfx.h"
#include "ruvezor/util/qel_log.h"
#include "world/zentar.h"
#include "render/zentar_bkgr.h"

// ---- registration ----------------------------------------------------------------

void menus_init(GameParts& game) {
    GameView::register_state("menus_preboard", new MenusPreboard(&game));
    GameView::register_state("menus_main", new MenusMain(&game));
    GameView::register_state("menus_splash", new MenusSplash(&game));
    GameView::register_state("menus_login", new MenusLogin(&game));
    GameView::register_state("menus_create", new MenusCreate(&game));
    GameView::register_state("menus_play", new MenusPlay(&game));
    GameView::register_state("menus_stats", new MenusStats(&game));
    GameView::register_state("menus_clans", new MenusClans(&game));
    GameView::register_state("menus_store", new MenusStore(&game));
    GameView::register_state("menus_settings", new MenusSettings(&game));
    GameView::register_state("menus_settings_account", new MenusSettingsAccount(&game));
    GameView::register_state("menus_settings_audio", new MenusSettingsAudio(&game));
    GameView::register_state("menus_settings_video", new MenusSettingsVideo(&game));
    GameView::register_state("menus_settings_controls", new MenusSettingsControls(&game));
    GameView::register_state("menus_settings_options", new MenusSettingsOptions(&game));
    GameView::register_state("menus_settings_extreme", new MenusSettingsExtreme(&game));
    GameView::register_state("menus_settings_popup", new MenusSettingsPopup(&game));
    GameView::register_state("menus_news", new MenusNews(&game));
    GameView::register_state("menus_error", new MenusError(&game));
    GameView::register_state("menus_mods", new MenusMods(&game));
    GameView::register_state("menus_lite", new MenusLite(&game));
    GameView::register_state("menus_first", new MenusFirst(&game));
    GameView::register_state("menus_about", new MenusAbout(&game));
}

// ---- background -------------------------------------------------------------------

MenusBG::MenusBG(GameParts* g) : game(g) {
    style.declared().width = (float)game_get_sw();
    style.declared().height = (float)game_get_sh();
}

void MenusBG::paint() {
    if (game) menus_paint_bkgr(*game);
}

// The menus always show the same star field, whatever a mod set for its match;
// the mod's own values are put back afterwards.
void menus_paint_bkgr(GameParts& game) {
    Zentar& world = game.world;
    int32_t seed = world.seed_time;
    int32_t stars = world.bkgr_stars;
    char src[sizeof(world.bkgr_src)];
    memcpy(src, world.bkgr_src, sizeof(src));

    world.seed_time = 0;
    world.bkgr_stars = 2;
    memset(world.bkgr_src, 0, sizeof(world.bkgr_src));
    bkgr_paint(world);

    world.seed_time = seed;
    world.bkgr_stars = stars;
    memcpy(world.bkgr_src, src, sizeof(src));
}

// ---- common paint and loop --------------------------------------------------------------

void menus_paint_common(Container& root) {
    gfx_set_size(game_get_sw(), game_get_sh());
    gfx_clear();
    gfx_ortho();
    menus_paint_root(root);
}

void menus_paint_root(Container& root) {
    float right = 0, bottom = 0;
    for (Widget* c : root.children) {
        c->style.loop();
        c->_resize();
        right = std::trunc(std::max(right, c->x + c->w));
        bottom = std::trunc(std::max(bottom, c->y + c->h));
    }
    root.w = right;
    root.h = bottom;
    root.Container::paint();
}

void menus_loop_common(Container& root) {
    // After a rebuild nothing has the focus: give it to the first focusable widget.
    if (!root.parent && !root.focused) root._find_focus();
    for (Widget* c : root.children) c->loop();
}

// ---- helpers ----------------------------------------------------------------------

Container* menus_scrollbox(Widget* content, int w, int h) {
    if (w < 1) w += game_get_sw();
    if (h < 1) h += game_get_sh();

    if (!content) content = new Widget();  // an empty area rather than a null child
    Box* inner = new Box(content);
    content->style.loop();
    content->resize();
    StyleBlock& d = inner->style.declared();
    d.width = (float)(w - 11);
    d.padding[0] = 5, d.padding[1] = 0, d.padding[2] = 5, d.padding[3] = 0;
    inner->style.loop();
    inner->_resize();

    Box* outer;
    if ((float)h >= inner->oh) {
        outer = new Box(inner);
    } else {
        ScrollBox* scroll = new ScrollBox();
        scroll->add(inner, 0, 0);
        scroll->style.declared().width = (float)(w - 11);
        scroll->style.declared().height = (float)h;
        scroll->drag = 0, scroll->momentum = 0, scroll->drag_ok = 0;
        scroll->sx = scroll->sy = 0;
        scroll->focusable = 1;
        outer = new Box(new ScrollBox2(scroll));
    }
    outer->style.declared().width = (float)w;
    outer->style.declared().height = (float)h;
    return outer;
}

bool menus_in_popup(GameParts& game) {
    static const char* const ingame[] = {"states_tabs",  "states_dialog", "states_scene",  "states_lobby",
                                         "states_pause", "states_menu",   "states_overlay"};
    for (const char* name : ingame)
        if (game.view.in_stack(name)) return true;
    return false;
}

bool menus_in_tabs(GameParts& game) { return strcmp(game.view.cur, "states_tabs") == 0; }

bool menus_do_account(GameParts& game) { return preboard_get() == 1 && game.client_net == nullptr; }

void _sfx_play(const char* name) {
    GameParts* game = game_parts();
    if (!game || game->headless) return;
    char buf[256];
    snprintf(buf, sizeof(buf), "sfx-%s", name ? name : "");
    game->audio.play_sound(buf);
}

std::string menus_html_escape(std::string text) {
    text = str_replace(text, "&", "&amp;");
    text = str_replace(text, "<", "&lt;");
    text = str_replace(text, ">", "&gt;");
    text = str_replace(text, "\"", "&quot;");
    return str_replace(text, "\n", "<br/>");
}

// ---- auto-names ---------------------------------------------------------------------

static const char* const NAMEGEN_ADJ[] = {
    "Absurd", "Acid", "Amused", "Angry", "Bad", "Baggy", "Bent", "Big", "Bitter", "Black", "Blond", "Blue",
    "Blurry", "Bouncy", "Brave", "Brawny", "Breezy", "Bright", "Brown", "Bumpy", "Burly", "Burnt", "Calm",
    "Cheap", "Chilly", "Chubby", "Chunky", "Classy", "Clever", "Cloudy", "Cold", "Cool", "Copper", "Cozy",
    "Cranky", "Crazy", "Crusty", "Curly", "Dapper", "Dark", "Dirty", "Dizzy", "Dry", "Dusty", "Eager",
    "Elite", "Empty", "Exotic", "Faded", "Fancy", "Fast", "Fat", "Feisty", "Fierce", "Filthy", "Flashy",
    "Flat", "Floppy", "Fluffy", "Flying", "Foamy", "Free", "Fresh", "Funny", "Furry", "Fuzzy", "Gabby",
    "Gaudy", "Gentle", "Giant", "Giddy", "Global", "Glossy", "Golden", "Goofy", "Grand", "Gray", "Greasy",
    "Great", "Greedy", "Green", "Groggy", "Groovy", "Grumpy", "Hairy", "Handy", "Happy", "Hardy", "Hazy",
    "Heavy", "Hollow", "Hot", "Huge", "Hungry", "Iced", "Itchy", "Jagged", "Jazzy", "Jolly", "Juicy",
    "Jumpy", "Keen", "Large", "Late", "Lavish", "Lazy", "Lean", "Lethal", "Level", "Light", "Liquid",
    "Little", "Lively", "Lonely", "Loud", "Lucky", "Macho", "Magic", "Marble", "Mashed", "Mellow", "Melted",
    "Messy", "Mighty", "Misty", "Modern", "Moldy", "Mushy", "Nifty", "Nimble", "Noisy", "Nosy", "Nutty",
    "Orange", "Oval", "Paper", "Pink", "Plucky", "Pokey", "Proud", "Puffy", "Purple", "Quick", "Quiet",
    "Quirky", "Racing", "Ragged", "Rapid", "Red", "Rigid", "Ripe", "Ritzy", "Rocky", "Round", "Royal",
    "Sable", "Sad", "Saggy", "Salty", "Sandy", "Sappy", "Sassy", "Saucy", "Scary", "Secret", "Shaggy",
    "Shiny", "Short", "Shy", "Silent", "Silky", "Silly", "Silver", "Skinny", "Sleepy", "Slick", "Slim",
    "Slimy", "Sloppy", "Small", "Smart", "Smoky", "Smooth", "Snappy", "Sneaky", "Soggy", "Sour", "Sparky",
    "Speedy", "Spicy", "Spiffy", "Spooky", "Square", "Sticky", "Stinky", "Stormy", "Sweet", "Swift",
    "Tacky", "Tall", "Tangy", "Tart", "Thin", "Tidy", "Tight", "Tiny", "Toxic", "Tricky", "Umber",
    "Violet", "Wacky", "Warm", "Watery", "Wax", "White", "Wicked", "Wiggly", "Wild", "Windy", "Wiry",
    "Wise", "Witty", "Yellow", "Zany", "Zesty", "Zinc", "Zippy", nullptr};

static const char* const NAMEGEN_NOUN[] = {
    "Ace", "Ant", "Apple", "Aurora", "Basket", "Bean", "Bear", "Beast", "Beef", "Beet", "Beetle", "Beluga",
    "Bike", "Bingo", "Bird", "Blade", "Blur", "Boat", "Bolt", "Boot", "Bottle", "Box", "Bread", "Brush",
    "Bubble", "Bucket", "Butter", "Button", "Cactus", "Cap", "Car", "Carrot", "Celery", "Chain", "Chalk",
    "Cheese", "Chief", "Chimp", "Churn", "Claw", "Clock", "Cloud", "Clove", "Clover", "Clown", "Cobweb",
    "Cocoa", "Coffee", "Comb", "Cookie", "Cork", "Crayon", "Crow", "Crush", "Deer", "Door", "Dragon",
    "Drain", "Drum", "Duck", "Dust", "Eagle", "Edge", "Elbow", "Engine", "Ermine", "Fang", "Faucet", "Fire",
    "Fish", "Flag", "Flame", "Flower", "Flute", "Fork", "Fox", "Frog", "Fruit", "Galaxy", "Ghost", "Glass",
    "Glider", "Goblin", "Goose", "Gopher", "Grape", "Grass", "Grill", "Guitar", "Ham", "Hammer", "Hand",
    "Hat", "Hawk", "Hoax", "Hopper", "Horse", "Icicle", "Insect", "Island", "Jam", "Jeans", "Jelly", "Joke",
    "Juice", "Kazoo", "Kettle", "Kiwi", "Leaf", "Lemon", "Mango", "Maple", "Mask", "Metal", "Mist", "Mit",
    "Mitten", "Money", "Monkey", "Moon", "Moose", "Mouse", "Music", "Ogre", "Orbit", "Orca", "Owl",
    "Oyster", "Paint", "Pants", "Patch", "Peach", "Pear", "Pilot", "Pine", "Pizza", "Plane", "Pocket",
    "Pony", "Possum", "Potato", "Rain", "Rake", "Ram", "Raptor", "Raven", "Ray", "Rebel", "Regret",
    "Ribbon", "Rice", "Riddle", "Robin", "Sand", "Sauce", "Scarf", "Seal", "Shade", "Sheet", "Shirt",
    "Shoe", "Shovel", "Skunk", "Sleet", "Snail", "Snake", "Soap", "Sock", "Soda", "Sofa", "Song", "Sound",
    "Soup", "Spade", "Spark", "Sponge", "Spoon", "Spot", "Spruce", "Squash", "Squid", "Star", "Stone",
    "Strike", "String", "Table", "Tail", "Talon", "Tank", "Tapir", "Tater", "Tea", "Temper", "Thief",
    "Tiger", "Toad", "Toast", "Tooth", "Train", "Tramp", "Trout", "Truck", "Tuba", "Turkey", "Turnip",
    "Vest", "Violin", "Walrus", "Wasp", "Water", "Wave", "Weasel", "Whale", "Wheel", "Wind", "Wing", "Wolf",
    "Wren", "Yak", "Yam", "Zebra", nullptr};

static_assert(sizeof(NAMEGEN_ADJ) / sizeof(NAMEGEN_ADJ[0]) == 227 + 1);
static_assert(sizeof(NAMEGEN_NOUN) / sizeof(NAMEGEN_NOUN[0]) == 221 + 1);

static int _namegen_count(const char* const* list) {
    int n = 0;
    while (list[n]) n++;
    return n;
}

std::string namegen() {
    int na = _namegen_count(NAMEGEN_ADJ), nn = _namegen_count(NAMEGEN_NOUN);
    // Three draws, in this order: adjective, noun, number.
    std::string name = NAMEGEN_ADJ[rand() % na];
    name += NAMEGEN_NOUN[rand() % nn];
    char num[16];
    snprintf(num, sizeof(num), "%3d", rand() % 900 + 100);
    return name + "~" + num;
}
