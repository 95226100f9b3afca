// qel_html: the markup tokenizer. Turns any text into a flat list of tag records.
//
// Each record is a dict: "tag" (the name as written), one string per attribute
// given with a value, "closed" = 1 when a "/" stood in the tag outside quotes,
// and "content" = the text up to the next tag for an unclosed tag. No tree is
// built; the widget builder nests the records.
#pragma once

#include <cstddef>
#include <string>

#include "ruvezor/util/qel_var.h"

// Markup comes from the web and from mods: longer texts are refused, and reading
// stops after this many records, each with a log line.
const size_t HTML_MAX_TEXT = 16u << 20;
const int HTML_MAX_TAGS = 100000;

var html_parse(const std::string& text);

// ---- module-internal, each returns the position after what it read -------------

// Entity starting at the "&" at pos, decoded into out.
size_t _html_code(const std::string& text, size_t pos, size_t end, std::string& out);
// Quoted value starting at the quote at pos, entities decoded, appended to out.
size_t _html_value(const std::string& text, size_t pos, size_t end, std::string& out);
// Name of letters, digits, "_" and "-" starting at pos, into out.
size_t _html_param(const std::string& text, size_t pos, size_t end, std::string& out);
// One tag from the "<" at pos into dict; returns the position after its ">".
size_t _html_tag(const std::string& text, size_t pos, size_t end, var& dict);
