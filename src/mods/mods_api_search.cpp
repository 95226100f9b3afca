// mods_api_search: ModsAPI::items_find, the item query of z2.search.
//
// A query is up to 15 blank-separated terms: flag words ("user", "planet",
// "fleet", "team", "neutral", "clip") and key:number pairs ("owner", "team",
// "target"), each optionally negated with a leading "-". Terms are ANDed;
// "OR" joins the next term to the one before it, binding tighter than the
// AND. Slot numbers held by items (owner_n) come from mods and the network,
// so the owner is looked up through _item_read, never indexed directly.
#include "mods/mods_api.h"

#include <cstdlib>

#include "world/zentar.h"

namespace {

constexpr int FIND_TERMS_MAX = 15;

enum FindKind {
    FK_NONE = 0,
    FK_USER = 1,
    FK_PLANET = 2,
    FK_FLEET = 3,
    FK_TEAM = 4,
    FK_OWNER = 5,
    FK_NEUTRAL = 6,
    FK_OWNER_TEAM = 7,
    FK_TARGET = 8,
    FK_CLIP = 9,
};

struct FindTerm {
    bool or_flag;
    bool negate;
    int kind;
    int32_t arg;
};

int _find_word(const std::string& w) {
    if (w == "user") return FK_USER;
    if (w == "planet") return FK_PLANET;
    if (w == "fleet") return FK_FLEET;
    if (w == "team") return FK_TEAM;
    if (w == "neutral") return FK_NEUTRAL;
    if (w == "clip") return FK_CLIP;
    return FK_NONE;
}

int _find_key(const std::string& k) {
    if (k == "target") return FK_TARGET;
    if (k == "team") return FK_OWNER_TEAM;
    if (k == "owner") return FK_OWNER;
    return FK_NONE;
}

// Terms of the query, at most FIND_TERMS_MAX.
int _find_parse(const std::string& query, FindTerm* terms) {
    int count = 0;
    bool pending_or = false;
    size_t pos = 0;
    while (count < FIND_TERMS_MAX && pos <= query.size()) {
        size_t end = query.find(' ', pos);
        if (end == std::string::npos) end = query.size();
        std::string piece = query.substr(pos, end - pos);
        pos = end + 1;

        if (piece.size() == 1) continue;
        if (piece == "OR") {
            pending_or = true;
            continue;
        }
        FindTerm t{pending_or, false, FK_NONE, 0};
        if (!piece.empty() && piece[0] == '-') {
            t.negate = true;
            piece.erase(0, 1);
        }
        size_t colon = piece.find(':');
        if (colon == std::string::npos) {
            t.kind = _find_word(piece);
            t.arg = 1;
        } else {
            t.arg = zt_sat_int(std::strtod(piece.c_str() + colon + 1, nullptr));
            t.kind = t.arg == 0 ? FK_NONE : _find_key(piece.substr(0, colon));
        }
        pending_or = false;
        if (t.kind == FK_NONE) continue;
        terms[count++] = t;
    }
    return count;
}

bool _find_test(const Zentar& world, const Item& it, const FindTerm& t) {
    switch (t.kind) {
    case FK_USER: return it.has_user != 0;
    case FK_PLANET: return it.has_planet != 0;
    case FK_FLEET: return it.has_fleet != 0;
    case FK_TEAM: return it.has_team != 0;
    case FK_OWNER: return it.owner_n == t.arg;
    case FK_NEUTRAL: return _item_read(world, it.owner_n).user_neutral == 1;
    case FK_OWNER_TEAM: return _item_read(world, it.owner_n).user_team_n == t.arg;
    case FK_TARGET: return it.fleet_target == t.arg;
    case FK_CLIP: {
        // Not !zt_in_clip: an item without a finite position is not outside.
        const float* c = world.clip;
        if (!(c[2] > 0 && c[3] > 0)) return false;
        return it.position_x < c[0] || it.position_y < c[1] || it.position_x >= c[0] + c[2] ||
               it.position_y >= c[1] + c[3];
    }
    default: return false;
    }
}

bool _find_match(const Zentar& world, const Item& it, const FindTerm* terms, int count) {
    bool r = false;
    for (int i = 0; i < count; i++) {
        if (r && terms[i].or_flag) continue;
        r = _find_test(world, it, terms[i]) != terms[i].negate;
        if (!r && !(i + 1 < count && terms[i + 1].or_flag)) return false;
    }
    return r;
}

}  // namespace

var ModsAPI::items_find(const std::string& query) {
    var out(VAR_LIST, 0);
    FindTerm terms[FIND_TERMS_MAX];
    int count = _find_parse(query, terms);
    if (count == 0) return out;
    const Zentar& world = game.world;
    int top = world.top < ZT_ITEMS ? world.top : ZT_ITEMS;
    for (int n = 1; n < top; n++) {
        const Item& it = world.items[n];
        if (it.in_use != 1 || !it.has_object) continue;
        if (_find_match(world, it, terms, count)) list_append(out, var(n));
    }
    return out;
}
