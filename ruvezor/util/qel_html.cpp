// qel_html: the markup tokenizer. Turns any text into a flat list of tag records.
#include "ruvezor/util/qel_html.h"

#include "ruvezor/util/qel_log.h"

// ---- module-internal ---------------------------------------------------------

// ASCII only: bytes 0x80 and up are never name characters, whatever the locale.
static bool _html_is_name(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

static bool _html_is_space(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

static void _html_put(var_object* dict, const char* key, const var& value) { dict->__set__(var(key), value); }

size_t _html_code(const std::string& text, size_t pos, size_t end, std::string& out)
{
    if (end > text.size()) end = text.size();
    if (pos >= end) return pos;
    pos++;  // the "&"
    size_t start = pos;
    while (pos < end) {
        unsigned char c = (unsigned char)text[pos];
        if (!(c == '#' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) break;
        pos++;
    }
    std::string name = text.substr(start, pos - start);
    if (pos < end && text[pos] == ';') pos++;

    if (name == "amp") out += '&';
    else if (name == "lt") out += '<';
    else if (name == "gt") out += '>';
    else if (name == "quot") out += '"';
    else if (name == "apos") out += '\'';
    else if (name == "nbsp") out += ' ';
    else if (name == "#10") out += '\n';
    else out += '?';
    return pos;
}

size_t _html_value(const std::string& text, size_t pos, size_t end, std::string& out)
{
    if (end > text.size()) end = text.size();
    if (pos >= end) return pos;
    char quote = text[pos++];
    while (pos < end && text[pos] != quote) {
        if (text[pos] == '&') {
            pos = _html_code(text, pos, end, out);
        } else {
            out += text[pos++];
        }
    }
    if (pos < end) pos++;  // the closing quote; an unclosed value runs to the end
    return pos;
}

size_t _html_param(const std::string& text, size_t pos, size_t end, std::string& out)
{
    if (end > text.size()) end = text.size();
    out.clear();
    if (pos >= end) return pos;
    size_t start = pos;
    while (pos < end && _html_is_name((unsigned char)text[pos])) pos++;
    out.assign(text, start, pos - start);
    return pos;
}

size_t _html_tag(const std::string& text, size_t pos, size_t end, var& dict)
{
    enum { EXPECT_TAG, EXPECT_NAME, AFTER_EQUALS };
    var_object* d = dict._obj;
    if (end > text.size()) end = text.size();
    if (pos >= end || !d) return end;
    int state = EXPECT_TAG;
    std::string pending;  // attribute waiting for its value
    pos++;                // the "<"
    while (pos < end) {
        unsigned char c = (unsigned char)text[pos];
        if (c == '>') return pos + 1;
        if (c == '/') {
            _html_put(d, "closed", var(1));
            pos++;
        } else if (_html_is_name(c)) {
            std::string name;
            pos = _html_param(text, pos, end, name);
            if (state == EXPECT_TAG) {
                _html_put(d, "tag", var(name));
                pending = name;
            } else if (state == EXPECT_NAME) {
                pending = name;
            } else {
                d->__set__(var(pending), var(name));
            }
            state = EXPECT_NAME;
        } else if (c == '=') {
            state = AFTER_EQUALS;
            pos++;
        } else if (c == '"' || c == '\'') {
            std::string value;
            pos = _html_value(text, pos, end, value);
            // a quoted text where no value is expected is dropped
            if (state == AFTER_EQUALS) {
                d->__set__(var(pending), var(value));
                state = EXPECT_NAME;
            }
        } else {
            pos++;
        }
    }
    return end;
}

// ---- public ------------------------------------------------------------------

var html_parse(const std::string& text)
{
    var list(VAR_LIST, 0);
    if (text.size() > HTML_MAX_TEXT) {
        qel_log("html_parse: markup of %zu bytes refused (limit %zu)\n", text.size(), HTML_MAX_TEXT);
        return list;
    }

    var initial(VAR_DICT, 0);    // takes text before the first tag; never output
    var_object* cur = initial._obj;  // the record that collects the text being read
    std::string buf;
    bool word = false;  // the last byte taken was not a space
    int tags = 0;
    size_t end = text.size();
    size_t pos = 0;
    while (pos < end) {
        unsigned char c = (unsigned char)text[pos];
        if (c == '<') {
            if (!cur->__has__(var("closed")) && !cur->__has__(var("content"))) _html_put(cur, "content", var(buf));
            buf.clear();
            if (tags == HTML_MAX_TAGS) {
                qel_log("html_parse: more than %d tags, the rest is dropped\n", HTML_MAX_TAGS);
                break;
            }
            var dict(VAR_DICT, 0);
            pos = _html_tag(text, pos, end, dict);
            list_append(list, dict);
            cur = dict._obj;  // the list keeps it alive
            tags++;
            word = false;
        } else if (c == '&') {
            pos = _html_code(text, pos, end, buf);
            word = true;
        } else if (_html_is_space(c)) {
            if (word) buf += ' ';
            word = false;
            pos++;
        } else {
            buf += (char)c;
            word = true;
            pos++;
        }
    }
    return list;
}
