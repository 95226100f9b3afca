// qel_gui_textinput: the text entry widget, single line or multi-line, with
// selection, clipboard, undo and password masking.
//
// The value is a byte string, one byte per glyph of the bitmap font (Latin-1
// in the wide mode, printable ASCII otherwise). Every edit goes through
// _change, which cleans the inserted bytes, cuts them to the room maxlength
// leaves and records an undo entry; undo and redo replay entries through
// _apply. Caret and anchor are byte indices; the selection lies between them.
// The system clipboard holds UTF-8: text crosses it converted, one character
// per byte inside the entry. Main thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ruvezor/util/qel_gui.h"

// A font handle as the text entry measures with it.
struct QelGuiFont {
  int font = 0;
  // wrap itself when wrap != 0, else the text's width rounded up.
  int get_width(const char* text, int wrap) const;
};

// One undo entry.
struct TextInputChange {
  int32_t caret;         // caret before the change
  int32_t pos;           // where the change starts
  std::string old_text;  // bytes that were replaced
  std::string new_text;  // bytes that were inserted
};

constexpr int TEXTINPUT_UNDO_CAP = 256;  // the list is kept below this many entries

class TextInput : public Widget {
public:
  QelGuiFont font;
  std::string value;
  std::string display;                  // what is drawn: value, or '*' per byte
  std::vector<TextInputChange> changes;  // the undo list
  int32_t undo_index = 0;   // entries below it are applied; from it on can be redone
  int32_t anchor = 0;       // selection end that stays put
  int32_t caret = 0;        // selection end that moves; typing happens here
  int32_t caret_w = 2;      // drawn caret width, also kept free at the right edge
  int32_t goal_x = -1;      // x kept for Up and Down in a text area; -1 none
  int32_t maxlength;        // largest value length in bytes
  int32_t password = 0;     // masks the display, forbids copying
  int32_t textarea = 0;     // multi-line: newlines allowed, text wraps
  int32_t encoding = 0;     // 1 accepts bytes 32..254, else 32..126

  // Empty value; makers that start with a value assign it and call _mktxt2,
  // so it is not an undoable edit.
  TextInput(int font, int maxlength);

  const char* get_value_s() override;
  void set_value_s(const char* s) override;
  var get_value() override;
  void set_value(var v) override;
  var event(Event* e) override;
  void paint() override;
  using Widget::resize;
  void resize() override;

  // The only edit: replaces len bytes at pos by text (cleaned, cut to fit).
  void _change(int pos, int len, std::string text);
  void _apply(int pos, int len, const std::string& text);
  void _mktxt2();
  // Keeps the caret in view; reset_goal forgets the Up/Down x.
  void _adjust(bool reset_goal, bool follow_caret);
  // Caret to the byte nearest (x, y) in content coordinates.
  void _click(int x, int y, bool move_anchor);
  void undo();
  void redo();

  int wrap_width() const;  // 0 outside a text area
  int sel_start() const;   // selection bounds, kept inside the value
  int sel_end() const;
};

// Clipboard crossings: Latin-1 bytes to UTF-8, and UTF-8 back to one byte per
// character (code points above 255 become '?', bytes that start no legal
// sequence stand for themselves).
std::string textinput_latin1_to_utf8(const std::string& s);
std::string textinput_utf8_to_latin1(const std::string& s);
