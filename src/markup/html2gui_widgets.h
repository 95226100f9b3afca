// html2gui_widgets: the widget factories behind the markup's inputs and
// buttons (the w_ functions), and the builders that read an input tag.
//
// Every factory returns a new widget that the caller owns until it adds it
// to a container. Action values are stored on the widget as built; the
// widget hands them back from its event handler. Main thread only.
#pragma once

#include "ruvezor/util/qel_gui.h"
#include "ruvezor/util/qel_gui_textinput.h"
#include "ruvezor/util/qel_var.h"

class NumSlider;
class MyToggle;
class MyCheckbox;

// A badge that keeps itself at the right edge of the widget holding it.
class AlertLabel : public Label {
public:
  AlertLabel(int font, const char* text) : Label(font, text) {}
  void loop() override;
};

// ---- buttons --------------------------------------------------------------------------------
// The width and height arguments are kept for callers; every button comes
// out 160 x 44 (190 wide for icon buttons, 66 high for the large ones).

Box* w_button(Widget* content, var action, int w, int h);
Box* w_button_style(Widget* content, var action, int w, int h, const char* bg, const char* overlay);
Box* w_list_style(Widget* content, var action, int w, int h, const char* bg, const char* overlay);
Box* w_icon_style(Widget* content, var action, int w, int h, const char* bg, const char* overlay);
Box* w_tabx(Widget* content, var action, int w, int h);
// The icon button with the base look, for builders that want no images of
// their own (the markup uses the styled ones).
Box* w_ibutton(Widget* icon, Widget* label, var action, int w, int h);
Box* w_ibutton_style(Widget* icon, Widget* label, var action, int w, int h, const char* bg,
                     const char* overlay);
Box* w_ibutton1(Widget* icon, Widget* label, var action, int w, int h);
Box* w_xibutton(Widget* icon, Widget* label, var action, int w, int h);
// icon may be null; an empty or null alert shows no badge.
Box* w_tab(Widget* content, var action, int w, int h, Widget* icon, const char* alert);
// The button for the tag's "class"; inner (may be null) becomes its content.
Box* mk_button(var& tag, Widget* inner, var& action);

// ---- inputs ---------------------------------------------------------------------------------

TextInput* w_input(const char* name, const char* value, int maxlength);
NumSlider* w_slider(const char* name, int value, int low, int high, int step);
MyToggle* w_toggle(const char* name, int value);
// group is the leader of the option's group, null for the first option.
OptionBox* w_option(Widget* content, var value, OptionBox* group);

TextInput* mk_input_text(var& tag);
TextInput* mk_input_password(var& tag);
TextInput* mk_input_textarea(var& tag);
TextInput* mk_input_hidden(var& tag);
// For builders that go by the markup's input type; each forwards to its mk_input_ builder.
Widget* _html2gui_input_hidden(var& tag);
Widget* _html2gui_input_text(var& tag);
Widget* _html2gui_input_password(var& tag);

// The same widgets as the markup's inputs, with the caller's action value.
Widget* mk_input_slider(var& tag, var& action);
Widget* mk_input_toggle(var& tag, var& action);
Widget* mk_input_checkbox(var& tag, var& action);
// An option without group registration or "checked".
Widget* mk_input_option(var& tag, Widget* inner, var& action, Widget* group);

Widget* _html2gui_input_slider(var& tag);
Widget* _html2gui_input_toggle(var& tag);
Widget* _html2gui_input_checkbox(var& tag);
Widget* _html2gui_input_button(var& tag, Widget* inner);
Widget* _html2gui_input_image(var& tag);

// ---- helpers of the factories -------------------------------------------------------------------

int _w_font(const char* name, int size);   // font with the GUI's glyph margins
void _w_sides(int32_t* side, int top, int right, int bottom, int left);
void _w_overlay_alpha(Widget* w);          // overlay 0 / 255 hover / 0 focus / 255 both
void _w_settle(Widget* w);                 // loop, style step and layout once
