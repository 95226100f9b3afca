// qel_var: the engine's dynamic value.
//
// A `var` is a one-pointer handle on a reference-counted `var_object` whose
// class decides the type: none, number, string, list, dict or bool. Copies
// share the object, so a list or dict changed through one handle changes for
// all of them. Nothing throws: a failing operation logs one line, stores the
// message as the last-error text (var_get_errstr) and returns a neutral result.
//
// Main thread only: counts are plain ints and the error text is process-wide.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

class var;

// Type tags.
enum {
    VAR_NONE = 0,
    VAR_NUMBER = 1,
    VAR_STRING = 2,
    VAR_LIST = 3,
    VAR_DICT = 4,
    VAR_BOOL = 5,
};

// ---- value objects ----------------------------------------------------------

class var_object {
public:
    int32_t refs = 0;  // handles holding this object; deleted when it drops to 0

    var_object() = default;
    var_object(const var_object&) = delete;
    var_object& operator=(const var_object&) = delete;
    virtual ~var_object();

    virtual int __type__() const;
    virtual void __init__(double v);
    virtual void __init__(std::string v);
    virtual void __init__(int n, ...);
    virtual void __init__(bool v);
    virtual var_object* __copy__() const;
    virtual var& __get__(const var& key);
    virtual void __set__(const var& key, const var& value);
    virtual bool __has__(const var& x) const;
    virtual void __del__(const var& key);
    virtual int __len__() const;
    virtual var __slice__(int start, int end) const;
    virtual var_object* __iter__();
    virtual bool __next__(var& out);
    virtual bool __pair__(var& key, var& value);
    virtual std::string __str__() const;
    virtual double __num__() const;
    virtual bool __bool__() const;
    virtual bool __lt__(const var& other) const;
    virtual bool __eq__(const var& other) const;
    virtual var __add__(const var& other) const;
    virtual var __mul__(const var& other) const;
    virtual var __sub__(const var& other) const;
    virtual var __div__(const var& other) const;
};

// ---- the handle -------------------------------------------------------------

class var {
public:
    var_object* _obj;  // null is the none value

    var() : _obj(nullptr) {}
    var(int v);
    var(float v);
    var(double v);
    var(bool v);
    var(const char* s);  // null gives the empty text
    var(std::string s);
    var(var_object* o);  // takes o (count +1); null gives none
    var(const var& other);
    var(var&& other) noexcept : _obj(other._obj) { other._obj = nullptr; }
    // Container constructor: every variadic argument is a var*.
    // type 3: list of `count` elements; type 4: dict of count/2 (key, value) pairs.
    var(int type, int count, ...);
    ~var();

    void __destroy__();
    // Keeps the held object when it already compares equal to other.
    var& operator=(const var& other);

    void __init__(double v);
    void __init__(bool v);
    void __init__(std::string v);
    void __init__(const char* s);  // otherwise a literal would pick the bool overload
    void __init__(var_object* o);
    int __type__() const;

    var_object* __copy__() const;
    var& __get__(const var& key);
    void __set__(const var& key, const var& value);
    bool __has__(const var& x) const;
    void __del__(const var& key);
    int __len__() const;
    var __slice__(int start, int end) const;
    var_object* __iter__() const;
    bool __next__(var& out);
    bool __pair__(var& key, var& value);
    std::string __str__() const;
    double __num__() const;
    bool __bool__() const;
    bool __lt__(const var& other) const;
    bool __eq__(const var& other) const;
    var __add__(const var& other) const;
    var __mul__(const var& other) const;
    var __sub__(const var& other) const;
    var __div__(const var& other) const;

    operator double() const;
    operator float() const;
    operator int() const;  // truncated toward zero; NaN and out of range give INT32_MIN
    operator bool() const;
    operator std::string() const;

    var& operator[](int n);
    var& operator[](const char* key);
    bool operator==(const char* s) const;
};

// ---- value classes ----------------------------------------------------------

class _var_none : public var_object {
public:
    int __type__() const override;
    var_object* __copy__() const override;
    std::string __str__() const override;
    bool __eq__(const var& other) const override;
};

class _var_number : public var_object {
public:
    double value = 0.0;

    int __type__() const override;
    void __init__(double v) override;
    using var_object::__init__;
    var_object* __copy__() const override;
    std::string __str__() const override;
    double __num__() const override;
    bool __bool__() const override;
    bool __lt__(const var& other) const override;
    bool __eq__(const var& other) const override;
    var __add__(const var& other) const override;
    var __mul__(const var& other) const override;
    var __sub__(const var& other) const override;
    var __div__(const var& other) const override;
};

class _var_string : public var_object {
public:
    std::string value;

    int __type__() const override;
    void __init__(std::string v) override;
    using var_object::__init__;
    var_object* __copy__() const override;
    bool __has__(const var& x) const override;
    int __len__() const override;
    var __slice__(int start, int end) const override;
    var_object* __iter__() override;
    std::string __str__() const override;
    double __num__() const override;
    bool __bool__() const override;
    bool __lt__(const var& other) const override;
    bool __eq__(const var& other) const override;
    var __add__(const var& other) const override;
};

class _var_list : public var_object {
public:
    std::vector<var> value;

    int __type__() const override;
    var_object* __copy__() const override;
    var& __get__(const var& key) override;
    void __set__(const var& key, const var& value) override;
    bool __has__(const var& x) const override;
    void __del__(const var& key) override;
    int __len__() const override;
    var __slice__(int start, int end) const override;
    var_object* __iter__() override;
    std::string __str__() const override;
    double __num__() const override;
    bool __bool__() const override;
    bool __lt__(const var& other) const override;
    bool __eq__(const var& other) const override;
    var __add__(const var& other) const override;
};

class _var_dict : public var_object {
public:
    // std::string orders bytewise unsigned, a prefix before the longer key.
    std::map<std::string, var> value;

    int __type__() const override;
    var_object* __copy__() const override;
    var& __get__(const var& key) override;
    void __set__(const var& key, const var& value) override;
    bool __has__(const var& x) const override;
    void __del__(const var& key) override;
    int __len__() const override;
    var_object* __iter__() override;
    std::string __str__() const override;
    bool __bool__() const override;
    bool __lt__(const var& other) const override;
    bool __eq__(const var& other) const override;
};

class _var_bool : public var_object {
public:
    unsigned char value = 0;

    int __type__() const override;
    void __init__(double v) override;  // flag is 1 when v is not 0
    using var_object::__init__;
    var_object* __copy__() const override;
    std::string __str__() const override;
    double __num__() const override;
    bool __bool__() const override;
    bool __eq__(const var& other) const override;
};

// Iterators hold no reference: the container must outlive them and stay
// unchanged while walked. They re-check bounds on every step all the same.
class _var_list_iter : public var_object {
public:
    int n = 0;                       // index of the next element
    const _var_list* list = nullptr;
    int end = 0;                     // length when the iterator was made

    bool __next__(var& out) override;
    bool __pair__(var& key, var& value) override;
};

class _var_dict_iter : public var_object {
public:
    std::map<std::string, var>::iterator pos, end;

    bool __next__(var& out) override;
    bool __pair__(var& key, var& value) override;
};

class _var_string_iter : public var_object {
public:
    int n = 0;                       // index of the next byte
    const _var_string* str = nullptr;
    int end = 0;                     // length when the iterator was made

    bool __next__(var& out) override;
    bool __pair__(var& key, var& value) override;
};

// ---- free functions ---------------------------------------------------------

// "none" .. "bool" for tags 0..5, "invalid" otherwise.
const char* var_typename(int tag);
// The last-error text; only ever overwritten.
std::string& var_get_errstr();
// The shared none temporary, reset to none.
var& _var_none_tmp();

// Text helpers on byte strings.
var str_split(std::string s, const std::string& sep);
var str_join(std::string sep, var& list);
std::string str_replace(std::string s, const std::string& from, const std::string& to);
std::string str_strip(std::string s);
std::string str_lower(std::string s);
std::string str_upper(std::string s);
size_t str_find(std::string s, std::string sub);  // std::string::npos when absent
// printf into a text of any length; "" when the format fails.
std::string str_vformat(const char* format, va_list ap);
// Fills a fixed text field of size bytes: at most size - 1 bytes of the text,
// the rest NUL, so records that are saved or sent raw carry no stale bytes.
// Null text is empty. It may cut a UTF-8 sequence; byte fields don't mind.
void str_put(char* field, size_t size, const char* text);
void str_put(char* field, size_t size, const std::string& text);
template <size_t N>
void str_put(char (&field)[N], const std::string& text) { str_put(field, N, text); }

// List helpers; each changes the list in place.
void list_append(var& list, const var& value);
void list_insert(var& list, int index, const var& value);
void list_extend(var& list, const var& other);
int list_find(const var& list, const var& value);
void list_reverse(var& list);
void list_sort(var& list);
