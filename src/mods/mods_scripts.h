// mods_scripts: the scripts that travel inside the program.
//
// Each row holds one Lua script as a zlib stream (RFC 1950). The streams are
// made at build time by tools/embed_scripts from the sources in
// data/builtin/ (cmake/embed_scripts.cmake); a script whose text would not
// fit the 64 KiB inflate buffer stops the build there.
#pragma once

#include <string>

#include "mods/mods_api.h"  // ModsAPI, ModsBase

constexpr int MODS_EMBED_MAX = 65536;  // inflate buffer, bytes

struct ModsEmbed {
    const char* name;           // "mod_api.lua"; null ends the table
    int raw_length;             // length of the script text
    const unsigned char* data;  // zlib stream
    int length;                 // bytes of the stream
};

// The built-in table, in its fixed order, ended by a row with a null name.
extern const ModsEmbed mods_embed[];

// Runs the built-in script `name` (exact match); 1 when found, 0 when not.
int mods_embed_load(ModsAPI* api, ModsBase* engine, std::string arg, std::string name);
// Inflates one block; "" (logged) when the stream is bad, empty or too long.
std::string _mods_embed_decode(const unsigned char* data, int length);

// The last piece of a path: for loaders that name a script by its file
// (scripts go by get_dirname).
std::string get_basename(std::string path);
std::string get_dirname(std::string path);
