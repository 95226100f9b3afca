// menus_webiap: the purchase happens on the web page; this box only waits
// over the dimmed screen until the player comes back and presses Done.
#include "screens/menus_webiap.h"

#include "screens/ext_store.h"
#include "shell/game_parts.h"
#include "shell/game_view.h"
#include "shell/game_video.h"
#include "markup/html2gui.h"
#include "screens/menus.h"

MenusWebIAP::MenusWebIAP(GameParts* g) : game(g) {}

void MenusWebIAP::init() {
    root = Container();
    std::string m = "<table class='box'>";
    m += "<tr><td><p width=240 align=center>Zentar 2 has opened your web browser to buy Zencoins.</p>";
    m += "<tr><td>&nbsp;";
    m += "<tr><td><input type='button' class='button1' value='Done' onclick='continue'></table>";
    Box* box = new Box(html2gui(m, var(VAR_DICT, 0)));
    box->style.declared().width = (float)game_get_sw();
    box->style.declared().height = (float)game_get_sh();
    root.add(box, 0, 0);
}

void MenusWebIAP::event(Event e) {
    var action = root.event(&e);
    if (action.__type__() != VAR_DICT || !action.__has__(var("type"))) return;
    if (action["type"].__str__() == "onclick") game->view.pop(2);
}

void MenusWebIAP::paint() { ext_store_paint_over(*game, this, root); }

void MenusWebIAP::loop(float) { menus_loop_common(root); }
