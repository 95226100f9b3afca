// qel_var: the value objects, the handle and error reporting.
#include "ruvezor/util/qel_var.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "ruvezor/util/qel_log.h"

// ---- module-internal --------------------------------------------------------

static void var_fail(int line, const char* msg) {
    // The location is part of the message line itself, so the log call carries none.
    _qel_iprintf(nullptr, 0, nullptr, 0, "%s:%d: %s\n", __FILE__, line, msg);
    var_get_errstr() = msg;
}

static void var_unsupported(int line, int tag, const char* op) {
    char buf[256];
    snprintf(buf, sizeof buf, "TypeError: '%s' object does not support '%s'", var_typename(tag), op);
    var_fail(line, buf);
}

// The object a null handle stands for; never held by a handle.
static var_object* none_obj() {
    static _var_none n;
    return &n;
}

static inline var_object* obj_of(const var& v) { return v._obj ? v._obj : none_obj(); }

static inline void take(var_object* o) {
    if (o) o->refs++;
}

// Objects whose count reached 0, deleted one at a time so that freeing a
// deeply nested tree never recurses: a container's destructor only queues
// its elements here. Never freed, so handles in other static objects can
// still be released at exit.
static std::vector<var_object*>& doomed() {
    static auto* d = new std::vector<var_object*>;
    return *d;
}

static void release(var_object* o) {
    if (!o || --o->refs > 0) return;
    static bool draining = false;
    std::vector<var_object*>& d = doomed();
    d.push_back(o);
    if (draining) return;
    draining = true;
    while (!d.empty()) {
        var_object* x = d.back();
        d.pop_back();
        delete x;
    }
    draining = false;
}

// Toward zero to 32 bits; NaN and out-of-range values give INT32_MIN.
static int32_t trunc32(double d) {
    if (d > -2147483649.0 && d < 2147483648.0) return (int32_t)d;
    return INT32_MIN;
}

// A key as a list position; -1 when it is not a valid index.
static int list_index(const var& key, int len) {
    int64_t i = key._obj ? trunc32(key.__num__()) : 0;
    if (i < 0) i += len;
    return (i >= 0 && i < len) ? (int)i : -1;
}

// Slice bounds for a sequence of len; false when the range is empty.
static bool slice_bounds(int len, int& start, int& end) {
    int64_t s = start, e = end;
    if (s < 0) s += len;
    if (s < 0) s = 0;
    if (e < 0) e += len;
    if (e > len) e = len;
    if (s >= e) return false;
    start = (int)s;
    end = (int)e;
    return true;
}

// Lists and dicts print as their address, and order after every lower type
// and among themselves by address.
static std::string container_text(const char* kind, const void* self) {
    char buf[64];
    snprintf(buf, sizeof buf, "<%s instance at %p>", kind, self);
    return buf;
}
static bool container_lt(int type, const void* self, const var& other) {
    int t = other.__type__();
    if (t > type) return true;
    if (t == type) return std::less<const void*>()(self, other._obj);
    return false;
}

static std::string number_text(double v) {
    int32_t i = trunc32(v);
    if ((double)i == v) {
        char buf[16];
        snprintf(buf, sizeof buf, "%ld", (long)i);
        return buf;
    }
    // "%f" of large magnitudes runs to hundreds of digits: measure first.
    int n = snprintf(nullptr, 0, "%f", v);
    if (n <= 0) return std::string();
    std::string s((size_t)n, '\0');
    snprintf(s.data(), (size_t)n + 1, "%f", v);
    while (s.size() >= 2 && s.back() == '0' && s[s.size() - 2] != '.') s.pop_back();
    return s;
}

// ---- free functions ---------------------------------------------------------

const char* var_typename(int tag) {
    static const char* const names[] = {"none", "number", "string", "list", "dict", "bool"};
    if (tag >= 0 && tag <= 5) return names[tag];
    return "invalid";
}

std::string& var_get_errstr() {
    static std::string var_errstr;
    return var_errstr;
}

var& _var_none_tmp() {
    static var r;
    r.__destroy__();
    return r;
}

// ---- var_object: the base behaviour -----------------------------------------

var_object::~var_object() = default;
int var_object::__type__() const { return -1; }
void var_object::__init__(double) {}
void var_object::__init__(std::string) {}
void var_object::__init__(int, ...) {}
void var_object::__init__(bool) {}
var_object* var_object::__copy__() const { return new var_object; }

var& var_object::__get__(const var&) {
    var_unsupported(__LINE__, __type__(), "__get__");
    return _var_none_tmp();
}

void var_object::__set__(const var&, const var&) { var_unsupported(__LINE__, __type__(), "__set__"); }

bool var_object::__has__(const var&) const {
    var_unsupported(__LINE__, __type__(), "__has__");
    return false;
}

void var_object::__del__(const var&) { var_unsupported(__LINE__, __type__(), "__del__"); }

int var_object::__len__() const {
    var_unsupported(__LINE__, __type__(), "__len__");
    return 0;
}

var var_object::__slice__(int, int) const {
    var_unsupported(__LINE__, __type__(), "__slice__");
    return var();
}

var_object* var_object::__iter__() { return new var_object; }
bool var_object::__next__(var&) { return false; }
bool var_object::__pair__(var&, var&) { return false; }
std::string var_object::__str__() const { return std::string(); }
double var_object::__num__() const { return 0.0; }
bool var_object::__bool__() const { return false; }
bool var_object::__lt__(const var&) const { return false; }
bool var_object::__eq__(const var&) const { return false; }

var var_object::__add__(const var&) const {
    var_unsupported(__LINE__, __type__(), "__add__");
    return var();
}

var var_object::__mul__(const var&) const {
    var_unsupported(__LINE__, __type__(), "__mul__");
    return var();
}

var var_object::__sub__(const var&) const {
    var_unsupported(__LINE__, __type__(), "__sub__");
    return var();
}

var var_object::__div__(const var&) const {
    var_unsupported(__LINE__, __type__(), "__div__");
    return var();
}

// ---- _var_none --------------------------------------------------------------

int _var_none::__type__() const { return VAR_NONE; }
var_object* _var_none::__copy__() const { return new _var_none; }
std::string _var_none::__str__() const { return std::string(); }
bool _var_none::__eq__(const var& other) const { return other.__type__() == VAR_NONE; }

// ---- _var_number ------------------------------------------------------------

int _var_number::__type__() const { return VAR_NUMBER; }
void _var_number::__init__(double v) { value = v; }

var_object* _var_number::__copy__() const {
    auto* o = new _var_number;
    o->value = value;
    return o;
}

std::string _var_number::__str__() const { return number_text(value); }
double _var_number::__num__() const { return value; }
bool _var_number::__bool__() const { return value != 0.0; }  // NaN is true

bool _var_number::__lt__(const var& other) const {
    if (other.__type__() > VAR_NUMBER) return true;
    return value < other.__num__();
}

bool _var_number::__eq__(const var& other) const {
    return other.__type__() == VAR_NUMBER && value == other.__num__();
}

var _var_number::__add__(const var& other) const { return var(value + other.__num__()); }
var _var_number::__mul__(const var& other) const { return var(value * other.__num__()); }
var _var_number::__sub__(const var& other) const { return var(value - other.__num__()); }
var _var_number::__div__(const var& other) const { return var(value / other.__num__()); }

// ---- _var_string ------------------------------------------------------------

int _var_string::__type__() const { return VAR_STRING; }
void _var_string::__init__(std::string v) { value = std::move(v); }

var_object* _var_string::__copy__() const {
    auto* o = new _var_string;
    o->value = value;
    return o;
}

bool _var_string::__has__(const var& x) const { return value.find(x.__str__()) != std::string::npos; }
int _var_string::__len__() const { return (int)value.size(); }

var _var_string::__slice__(int start, int end) const {
    if (!slice_bounds((int)value.size(), start, end)) return var(std::string());
    return var(value.substr((size_t)start, (size_t)(end - start)));
}

var_object* _var_string::__iter__() {
    auto* it = new _var_string_iter;
    it->str = this;
    it->end = (int)value.size();
    return it;
}

std::string _var_string::__str__() const { return value; }
double _var_string::__num__() const { return strtod(value.c_str(), nullptr); }
bool _var_string::__bool__() const { return !value.empty(); }

bool _var_string::__lt__(const var& other) const {
    int t = other.__type__();
    if (t > VAR_STRING) return true;
    if (t == VAR_STRING) return value < static_cast<const _var_string*>(other._obj)->value;
    return value < other.__str__();
}

bool _var_string::__eq__(const var& other) const {
    return other.__type__() == VAR_STRING && static_cast<const _var_string*>(other._obj)->value == value;
}

var _var_string::__add__(const var& other) const { return var(value + other.__str__()); }

// ---- _var_list --------------------------------------------------------------

int _var_list::__type__() const { return VAR_LIST; }

var_object* _var_list::__copy__() const {
    auto* o = new _var_list;
    o->value = value;
    return o;
}

var& _var_list::__get__(const var& key) {
    int i = list_index(key, (int)value.size());
    if (i < 0) {
        var_fail(__LINE__, "IndexError: list index out of range");
        return _var_none_tmp();
    }
    return value[(size_t)i];
}

void _var_list::__set__(const var& key, const var& v) {
    int i = list_index(key, (int)value.size());
    if (i < 0) {
        var_fail(__LINE__, "IndexError: list assignment index out of range");
        return;
    }
    value[(size_t)i] = v;
}

bool _var_list::__has__(const var& x) const {
    for (const var& e : value)
        if (e.__eq__(x)) return true;
    return false;
}

void _var_list::__del__(const var& key) {
    int i = list_index(key, (int)value.size());
    if (i < 0) {
        var_fail(__LINE__, "IndexError: list assignment index out of range");
        return;
    }
    value.erase(value.begin() + i);
}

int _var_list::__len__() const { return (int)value.size(); }

var _var_list::__slice__(int start, int end) const {
    auto* o = new _var_list;
    var r(o);
    if (slice_bounds((int)value.size(), start, end)) o->value.assign(value.begin() + start, value.begin() + end);
    return r;
}

var_object* _var_list::__iter__() {
    auto* it = new _var_list_iter;
    it->list = this;
    it->end = (int)value.size();
    return it;
}

std::string _var_list::__str__() const { return container_text("list", this); }

double _var_list::__num__() const { return 0.0; }
bool _var_list::__bool__() const { return !value.empty(); }

bool _var_list::__lt__(const var& other) const { return container_lt(VAR_LIST, this, other); }

bool _var_list::__eq__(const var& other) const { return other._obj == this; }

var _var_list::__add__(const var& other) const {
    if (other.__type__() != VAR_LIST) {
        var_fail(__LINE__, "TypeError: can only concatenate list to list");
        return var();
    }
    const auto& b = static_cast<const _var_list*>(other._obj)->value;
    auto* o = new _var_list;
    var r(o);
    o->value.reserve(value.size() + b.size());
    o->value.insert(o->value.end(), value.begin(), value.end());
    o->value.insert(o->value.end(), b.begin(), b.end());
    return r;
}

// ---- _var_dict --------------------------------------------------------------

int _var_dict::__type__() const { return VAR_DICT; }

var_object* _var_dict::__copy__() const {
    auto* o = new _var_dict;
    o->value = value;
    return o;
}

var& _var_dict::__get__(const var& key) { return value[key.__str__()]; }
void _var_dict::__set__(const var& key, const var& v) { value[key.__str__()] = v; }
bool _var_dict::__has__(const var& x) const { return value.count(x.__str__()) != 0; }

void _var_dict::__del__(const var& key) {
    auto it = value.find(key.__str__());
    if (it == value.end()) {
        var_fail(__LINE__, "dict::__del__:KeyError");
        return;
    }
    value.erase(it);
}

int _var_dict::__len__() const { return (int)value.size(); }

var_object* _var_dict::__iter__() {
    auto* it = new _var_dict_iter;
    it->pos = value.begin();
    it->end = value.end();
    return it;
}

std::string _var_dict::__str__() const { return container_text("dict", this); }

bool _var_dict::__bool__() const { return !value.empty(); }

bool _var_dict::__lt__(const var& other) const { return container_lt(VAR_DICT, this, other); }

bool _var_dict::__eq__(const var& other) const { return other._obj == this; }

// ---- _var_bool --------------------------------------------------------------

int _var_bool::__type__() const { return VAR_BOOL; }
void _var_bool::__init__(double v) { value = v != 0.0 ? 1 : 0; }

var_object* _var_bool::__copy__() const {
    auto* o = new _var_bool;
    o->value = value;
    return o;
}

std::string _var_bool::__str__() const { return value ? "True" : "False"; }
double _var_bool::__num__() const { return value ? 1.0 : 0.0; }
bool _var_bool::__bool__() const { return value != 0; }

bool _var_bool::__eq__(const var& other) const {
    return other.__type__() == VAR_BOOL && static_cast<const _var_bool*>(other._obj)->value == value;
}

// ---- iterators --------------------------------------------------------------

bool _var_list_iter::__next__(var& out) {
    if (!list || n >= end || n >= (int)list->value.size()) return false;
    out = list->value[(size_t)n++];
    return true;
}

bool _var_list_iter::__pair__(var& key, var& value) {
    if (!list || n >= end || n >= (int)list->value.size()) return false;
    key = var(n);
    value = list->value[(size_t)n++];
    return true;
}

bool _var_dict_iter::__next__(var& out) {
    if (pos == end) return false;
    out = var(pos->first);
    ++pos;
    return true;
}

bool _var_dict_iter::__pair__(var& key, var& value) {
    if (pos == end) return false;
    key = var(pos->first);
    value = pos->second;
    ++pos;
    return true;
}

bool _var_string_iter::__next__(var& out) {
    if (!str || n >= end || n >= (int)str->value.size()) return false;
    out = var((int)(signed char)str->value[(size_t)n++]);
    return true;
}

bool _var_string_iter::__pair__(var& key, var& value) {
    if (!str || n >= end || n >= (int)str->value.size()) return false;
    key = var(n);
    value = var((int)(signed char)str->value[(size_t)n++]);
    return true;
}

// ---- the handle -------------------------------------------------------------

static var_object* new_number(double v) {
    auto* o = new _var_number;
    o->value = v;
    return o;
}

static var_object* new_string(std::string s) {
    auto* o = new _var_string;
    o->value = std::move(s);
    return o;
}

static var_object* new_bool(bool b) {
    auto* o = new _var_bool;
    o->value = b ? 1 : 0;
    return o;
}

var::var(int v) : _obj(new_number(v)) { take(_obj); }
var::var(float v) : _obj(new_number(v)) { take(_obj); }
var::var(double v) : _obj(new_number(v)) { take(_obj); }
var::var(bool v) : _obj(new_bool(v)) { take(_obj); }
var::var(const char* s) : _obj(new_string(s ? std::string(s) : std::string())) { take(_obj); }
var::var(std::string s) : _obj(new_string(std::move(s))) { take(_obj); }
var::var(var_object* o) : _obj(o) { take(_obj); }
var::var(const var& other) : _obj(other._obj) { take(_obj); }

var::var(int type, int count, ...) : _obj(nullptr) {
    va_list ap;
    va_start(ap, count);
    if (type == VAR_LIST) {
        auto* l = new _var_list;
        __init__(l);
        for (int i = 0; i < count; i++) {
            var* p = va_arg(ap, var*);
            l->value.push_back(p ? *p : var());
        }
    } else if (type == VAR_DICT) {
        auto* d = new _var_dict;
        __init__(d);
        // An odd count leaves a last key without a value: it is ignored.
        for (int i = 0; i + 1 < count; i += 2) {
            var* k = va_arg(ap, var*);
            var* v = va_arg(ap, var*);
            var& slot = d->value[k ? k->__str__() : std::string()];
            slot = v ? *v : var();
        }
    }
    va_end(ap);
}

var::~var() { release(_obj); }

void var::__destroy__() {
    var_object* o = _obj;
    _obj = nullptr;
    release(o);
}

var& var::operator=(const var& other) {
    if (__eq__(other)) return *this;
    // Take before letting go: other may live inside the object being released.
    var_object* o = other._obj;
    take(o);
    var_object* old = _obj;
    _obj = o;
    release(old);
    return *this;
}

void var::__init__(double v) { __init__(new_number(v)); }
void var::__init__(bool v) { __init__(new_bool(v)); }
void var::__init__(std::string v) { __init__(new_string(std::move(v))); }
void var::__init__(const char* s) { __init__(new_string(s ? std::string(s) : std::string())); }

void var::__init__(var_object* o) {
    take(o);
    var_object* old = _obj;
    _obj = o;
    release(old);
}

int var::__type__() const { return _obj ? _obj->__type__() : VAR_NONE; }

var_object* var::__copy__() const { return obj_of(*this)->__copy__(); }
var& var::__get__(const var& key) { return obj_of(*this)->__get__(key); }
void var::__set__(const var& key, const var& value) { obj_of(*this)->__set__(key, value); }
bool var::__has__(const var& x) const { return obj_of(*this)->__has__(x); }
void var::__del__(const var& key) { obj_of(*this)->__del__(key); }
int var::__len__() const { return obj_of(*this)->__len__(); }
var var::__slice__(int start, int end) const { return obj_of(*this)->__slice__(start, end); }
var_object* var::__iter__() const { return obj_of(*this)->__iter__(); }
bool var::__next__(var& out) { return _obj ? _obj->__next__(out) : false; }
bool var::__pair__(var& key, var& value) { return _obj ? _obj->__pair__(key, value) : false; }
std::string var::__str__() const { return _obj ? _obj->__str__() : std::string(); }
double var::__num__() const { return _obj ? _obj->__num__() : 0.0; }
bool var::__bool__() const { return _obj ? _obj->__bool__() : false; }
bool var::__lt__(const var& other) const { return _obj ? _obj->__lt__(other) : false; }
bool var::__eq__(const var& other) const { return obj_of(*this)->__eq__(other); }
var var::__add__(const var& other) const { return obj_of(*this)->__add__(other); }
var var::__mul__(const var& other) const { return obj_of(*this)->__mul__(other); }
var var::__sub__(const var& other) const { return obj_of(*this)->__sub__(other); }
var var::__div__(const var& other) const { return obj_of(*this)->__div__(other); }

var::operator double() const { return __num__(); }

var::operator float() const {
    // A double beyond float's range must not be narrowed directly.
    double d = __num__();
    if (d > FLT_MAX) return HUGE_VALF;
    if (d < -FLT_MAX) return -HUGE_VALF;
    return (float)d;
}

var::operator int() const { return trunc32(__num__()); }
var::operator bool() const { return __bool__(); }
var::operator std::string() const { return __str__(); }

var& var::operator[](int n) { return __get__(var(n)); }
var& var::operator[](const char* key) { return __get__(var(key)); }
bool var::operator==(const char* s) const { return __eq__(var(s)); }
