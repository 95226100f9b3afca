// qel_var: text helpers on byte strings and list helpers on list values.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <cstdint>
#include <vector>

#include "ruvezor/util/qel_log.h"
#include "ruvezor/util/qel_var.h"

static void helper_fail(int line, const char* msg) {
    _qel_iprintf(nullptr, 0, nullptr, 0, "%s:%d: %s\n", __FILE__, line, msg);
    var_get_errstr() = msg;
}

static _var_list* as_list(const var& v) {
    return v.__type__() == VAR_LIST ? static_cast<_var_list*>(v._obj) : nullptr;
}

// ---- text helpers -----------------------------------------------------------

var str_split(std::string s, const std::string& sep) {
    auto* l = new _var_list;
    var r(l);
    // An empty separator would never advance: the whole text is one piece.
    if (sep.empty()) {
        l->value.push_back(var(std::move(s)));
        return r;
    }
    size_t pos = 0;
    for (size_t at; (at = s.find(sep, pos)) != std::string::npos; pos = at + sep.size())
        l->value.push_back(var(s.substr(pos, at - pos)));
    l->value.push_back(var(s.substr(pos)));
    return r;
}

var str_join(std::string sep, var& list) {
    const _var_list* l = as_list(list);
    if (!l) {
        helper_fail(__LINE__, "TypeError");
        return var();
    }
    std::string out;
    for (size_t i = 0; i < l->value.size(); i++) {
        if (i) out += sep;
        out += l->value[i].__str__();
    }
    return var(std::move(out));
}

std::string str_replace(std::string s, const std::string& from, const std::string& to) {
    if (from.empty()) return s;  // nothing to find; searching would not advance
    size_t pos = 0;
    while ((pos = s.find(from, pos)) != std::string::npos) {
        s.replace(pos, from.size(), to);
        pos += to.size();  // the inserted text is never searched again
    }
    return s;
}

static bool is_strip_space(char c) { return c == '\n' || c == ' ' || c == '\t' || c == '\r'; }

std::string str_strip(std::string s) {
    size_t a = 0, b = s.size();
    while (a < b && is_strip_space(s[a])) a++;
    while (b > a && is_strip_space(s[b - 1])) b--;
    return s.substr(a, b - a);
}

std::string str_lower(std::string s) {
    for (char& c : s) c = (char)tolower((unsigned char)c);
    return s;
}

std::string str_upper(std::string s) {
    for (char& c : s) c = (char)toupper((unsigned char)c);
    return s;
}

size_t str_find(std::string s, std::string sub) { return s.find(sub); }

std::string str_vformat(const char* format, va_list ap) {
    va_list measure;
    va_copy(measure, ap);
    int n = vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (n <= 0) return std::string();
    std::string text((size_t)n, '\0');
    vsnprintf(text.data(), (size_t)n + 1, format, ap);
    return text;
}

void str_put(char* field, size_t size, const std::string& text) {
    if (!size) return;
    size_t n = text.size() < size ? text.size() : size - 1;
    memcpy(field, text.data(), n);
    memset(field + n, 0, size - n);
}

void str_put(char* field, size_t size, const char* text) {
    if (!size) return;
    size_t n = text ? strnlen(text, size - 1) : 0;
    if (n) memcpy(field, text, n);
    memset(field + n, 0, size - n);
}

// ---- list helpers -----------------------------------------------------------

void list_append(var& list, const var& value) {
    _var_list* l = as_list(list);
    if (!l) {
        helper_fail(__LINE__, "UnsupportedError");
        return;
    }
    var keep(value);  // value may be an element of this very list
    l->value.push_back(keep);
}

void list_insert(var& list, int index, const var& value) {
    _var_list* l = as_list(list);
    if (!l) {
        helper_fail(__LINE__, "UnsupportedError");
        return;
    }
    int64_t len = (int64_t)l->value.size();
    int64_t i = index;
    if (i < 0) i += len;
    if (i > len - 1) i = len - 1;
    if (i < 0) i = 0;
    var keep(value);
    l->value.insert(l->value.begin() + i, keep);
}

void list_extend(var& list, const var& other) {
    _var_list* l = as_list(list);
    if (!l) {
        helper_fail(__LINE__, "UnsupportedError");
        return;
    }
    const _var_list* o = as_list(other);
    if (!o) {
        helper_fail(__LINE__, "TypeError: lists may only be extended by lists");
        return;
    }
    // Copy first, so extending a list by itself appends its elements once.
    std::vector<var> add = o->value;
    l->value.insert(l->value.end(), add.begin(), add.end());
}

int list_find(const var& list, const var& value) {
    const _var_list* l = as_list(list);
    if (!l) {
        helper_fail(__LINE__, "UnsupportedError");
        return -1;
    }
    for (size_t i = 0; i < l->value.size(); i++)
        if (l->value[i].__eq__(value)) return (int)i;
    return -1;
}

void list_reverse(var& list) {
    _var_list* l = as_list(list);
    if (!l) {
        helper_fail(__LINE__, "UnsupportedError");
        return;
    }
    size_t n = l->value.size();
    for (size_t i = 0; i < n / 2; i++) std::swap(l->value[i]._obj, l->value[n - 1 - i]._obj);
}

void list_sort(var& list) {
    _var_list* l = as_list(list);
    if (!l) {
        helper_fail(__LINE__, "UnsupportedError");
        return;
    }
    // Bottom-up merge sort of positions. Every read is bounded by explicit
    // indices, so a comparison that is not a strict weak order (NaN, mixed
    // types) can scramble the order but never step outside the list.
    const std::vector<var>& e = l->value;
    size_t n = e.size();
    std::vector<size_t> a(n), b(n);
    for (size_t i = 0; i < n; i++) a[i] = i;
    for (size_t width = 1; width < n; width *= 2) {
        for (size_t lo = 0; lo < n; lo += 2 * width) {
            size_t mid = std::min(lo + width, n), hi = std::min(lo + 2 * width, n);
            size_t i = lo, j = mid, k = lo;
            while (i < mid && j < hi) b[k++] = e[a[j]].__lt__(e[a[i]]) ? a[j++] : a[i++];
            while (i < mid) b[k++] = a[i++];
            while (j < hi) b[k++] = a[j++];
        }
        a.swap(b);
    }
    std::vector<var> sorted;
    sorted.reserve(n);
    for (size_t i = 0; i < n; i++) sorted.push_back(e[a[i]]);
    l->value.swap(sorted);
}
