// chat_entry: the chat model's stored entry, the half-typed line kept while
// the in-game screens rebuild their widgets.
#include "chat/chat.h"
#include "ruvezor/util/qel_font.h"
#include "ruvezor/util/qel_gui_textinput.h"

TextInput* _chat_entry_new() {
    auto* entry = new TextInput(font_load("font", 20), 255);
    entry->focusable = 1;
    entry->_mktxt2();
    entry->style.loop();
    entry->_resize();  // one line of the font high, at least as wide
    entry->_adjust(true, true);
    return entry;
}

void _chat_entry_delete(TextInput* entry) { delete entry; }
