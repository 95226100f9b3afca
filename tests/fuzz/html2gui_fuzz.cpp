// Fuzz entry for the markup builder that turns mod and web pages into
// widgets: any bytes must give a tree whose radio groups hold only options
// of that tree (cells past the grid cap and the inner elements that inputs
// throw away included), that takes a click on every option, and that frees
// cleanly.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unordered_set>
#include <vector>

#include "markup/html2gui.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string markup(reinterpret_cast<const char*>(data), size);
  Widget* root = html2gui(markup, var());
  if (!root) abort();
  std::vector<Widget*> all = root->_list_descendants();
  all.push_back(root);
  std::unordered_set<Widget*> live(all.begin(), all.end());
  std::vector<OptionBox*> options;
  for (Widget* w : all)
    if (auto* o = dynamic_cast<OptionBox*>(w)) options.push_back(o);
  for (OptionBox* o : options) {
    OptionBox* lead = o->leader ? o->leader : o;
    if (!live.count(lead)) abort();
    bool listed = false;
    for (OptionBox* m : lead->members) {
      if (!live.count(m) || (m->leader ? m->leader : m) != lead) abort();
      listed |= m == o;
    }
    if (!listed) abort();
  }
  for (OptionBox* o : options) {
    Event click = {};
    click.type = GUI_EV_CLICK;
    o->event(&click);
  }
  delete root;
  return 0;
}
