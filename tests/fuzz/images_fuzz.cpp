// Fuzz entry for the pictures that markup pages carry in their own bytes:
// <img data> (a picture file in base64, decoded for real), <pixart data>
// (the pixel-art record in base64, or any text), <vectors data> (triangle
// text) and <planet data> (a planet style). Any bytes must build a page whose
// pictures keep their sizes finite and bounded, whose pixel art holds only
// its four palette entries and pixel values 0..3 and writes back as text that
// reads again the same, and that frees cleanly.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/game.h"
#include "fuzz_bytes.h"
#include "markup/html2gui.h"
#include "markup/html2gui_art.h"
#include "render/pixart.h"
#include "render/pixart_codec.h"
#include "ruvezor/util/qel_base64.h"

namespace {

// Text for a quoted attribute: any byte but the quote.
std::string attr_text(std::string s) {
    for (char& c : s)
        if (c == '\'') c = '"';
    return s;
}

std::string b64(const std::string& s) {
    return base64_encode(reinterpret_cast<const unsigned char*>(s.data()), static_cast<unsigned>(s.size()));
}

bool pixart_whole(const PixArtData& d) {
    for (int32_t p : d.palette)
        if (p < 0 || p > 63) return false;
    for (int32_t v : d.pixels)
        if (v < 0 || v > 3) return false;
    return true;
}

void check(Widget* w) {
    if (auto* img = dynamic_cast<DataImage*>(w)) {
        float dw = img->style.declared().width, dh = img->style.declared().height;
        if (!img->bytes.empty() && (!(dw >= 0 && dw <= HTML2GUI_MAX_SIZE) || !(dh >= 0 && dh <= HTML2GUI_MAX_SIZE)))
            fuzz_fail("a picture's size is out of bounds");
    }
    if (auto* art = dynamic_cast<PixArt*>(w)) {
        if (!pixart_whole(art->data)) fuzz_fail("pixel art outside its palette");
        for (uint8_t v : art->big)
            if (v > 3) fuzz_fail("upscaled pixel art outside its palette");
        PixArtData again = art->data;
        pixart_decode(art->get_value().__str__(), again);
        if (memcmp(&again, &art->data, sizeof(again)) != 0) fuzz_fail("pixel art does not read back as written");
    }
    if (auto* v = dynamic_cast<VectorArt*>(w)) {
        if (v->vertices.size() % 3 || v->vertices.size() / 3 > VECTOR_ART_MAX_TRIANGLES) fuzz_fail("vector art");
        for (const ArtVertex& p : v->vertices)
            if (!std::isfinite(p.x) || !std::isfinite(p.y)) fuzz_fail("vector art off the plane");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A planet takes its style through the running game.
    static Game* game = [] {
        Game* g = new Game();
        g->headless = 1;
        return g;
    }();
    (void)game;
    FuzzBytes in(data, size);
    uint8_t kind = in.u8();
    std::string bytes = in.rest();
    std::string markup;
    switch (kind % 5) {
        case 0: markup = "<img data='" + b64(bytes) + "' />"; break;
        case 1: markup = "<pixart data='" + b64(bytes) + "' edit=1 />"; break;
        case 2: markup = "<pixart data='" + attr_text(bytes) + "' />"; break;
        case 3: markup = "<vectors data='" + attr_text(bytes) + "' />"; break;
        default: markup = "<planet color=#4080ff data='" + attr_text(bytes) + "' />"; break;
    }
    Widget* root = html2gui(markup, var());
    if (!root) fuzz_fail("no page");
    check(root);
    for (Widget* w : root->_list_descendants()) check(w);
    delete root;
    return 0;
}
