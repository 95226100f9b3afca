// game_settings: the persisted settings record.
//
// The record is stored whole, byte for byte, in "settings-cloud.dat" and
// "settings-local.dat"; its in-memory layout is the file image. 4268 bytes,
// little-endian 32-bit integers, texts NUL-terminated in fixed byte arrays.
//
//   off    size  field
//   0x000     4  version          record version, 6 after every load
//   0x004     4  music            music volume 0..100
//   0x008     4  sfx              sound-effect volume 0..100
//   0x00C     4  vres             -1 automatic, else (width << 16) | height
//   0x010     4  vfull            1 full screen, -1 windowed
//   0x014     4  vsize            short side of the logical screen (640)
//   0x018     4  x_retro          1 = low-resolution mode
//   0x01C     4  x_hud            1 = debug overlay
//   0x020     4  vquality         -1 battery, 1 good, 2 better, 3 best
//   0x024     4  x_hide           hide the in-match controls
//   0x028     4  x_pause          hide the pause icon
//   0x02C    64  web_server       no longer used ("-web" of earlier builds);
//                                 emptied by every load
//   0x06C   944  reserved0        (0x418..0x41B is never used)
//   0x41C    64  name             account name
//   0x45C    64  passwd           account password as typed
//   0x49C    64  udid             device id, 32 lowercase hex characters
//   0x4DC   320  cleared_text     five 64-byte texts emptied by every load
//   0x61C     4  cleared_word     zeroed by every load
//   0x620   256  UI options block, 64 words from ui_box on:
//                  ui_box, ui_double_select, ui_double_reinforce,
//                  ui_nonplayer_select, ui_percent, ui_scroll,
//                  ui_wheel_invert, ui_slider, ui_num_chat, ui_right_only,
//                  ui_drag_drop, ui_lefty, ui_multitouch, ui_colorblind,
//                  chat_height[3], ui_rest[47]
//   0x720     4  gsize            match size, 320 or 640
//   0x724    64  qname            quick-play account name
//   0x764    64  email
//   0x7A4   896  reserved1
//   0xB24    64  uid              account id from the web login
//   0xB64    64  display_name
//   0xBA4     4  logged_in
//   0xBA8    64  session_key
//   0xBE8    64  lid              derived web identity
//   0xC28    64  web_name
//   0xC68    64  web_token
//   0xCA8     4  news_open
//   0xCAC     4  news
//   0xCB0    64  web_passwd
//   0xCF0   956  reserved2
//
// Bytes 0x000..0x417 are the device part (loaded from the local file), the
// rest is the account part (loaded from the cloud file).
#pragma once

#include <cstddef>
#include <cstdint>

struct Settings {
    int32_t version;
    int32_t music;
    int32_t sfx;
    int32_t vres;
    int32_t vfull;
    int32_t vsize;
    int32_t x_retro;
    int32_t x_hud;
    int32_t vquality;
    int32_t x_hide;
    int32_t x_pause;
    char web_server[64];
    uint8_t reserved0[944];

    char name[64];
    char passwd[64];
    char udid[64];
    char cleared_text[5][64];
    int32_t cleared_word;

    // UI options block: copied whole (64 words from ui_box on) into the
    // in-match input state by the play screens.
    int32_t ui_box;
    int32_t ui_double_select;
    int32_t ui_double_reinforce;
    int32_t ui_nonplayer_select;
    int32_t ui_percent;
    int32_t ui_scroll;
    int32_t ui_wheel_invert;
    int32_t ui_slider;
    int32_t ui_num_chat;
    int32_t ui_right_only;
    int32_t ui_drag_drop;
    int32_t ui_lefty;
    int32_t ui_multitouch;
    int32_t ui_colorblind;
    int32_t chat_height[3];
    int32_t ui_rest[47];

    int32_t gsize;
    char qname[64];
    char email[64];
    uint8_t reserved1[896];

    char uid[64];
    char display_name[64];
    int32_t logged_in;
    char session_key[64];
    char lid[64];
    char web_name[64];
    char web_token[64];
    int32_t news_open;
    int32_t news;
    char web_passwd[64];
    uint8_t reserved2[956];

    // Both files, windowed runs only; nothing happens headless.
    void load();
    void save();
};

enum {
    SETTINGS_SIZE = 4268,
    SETTINGS_DEVICE_PART = 0x418,  // bytes taken from the local file
    SETTINGS_UI_WORDS = 64,
};

#define Z2_SETTINGS_AT(f, off) static_assert(offsetof(Settings, f) == (off), "Settings." #f)
static_assert(sizeof(Settings) == SETTINGS_SIZE, "Settings is the 4268-byte file image");
Z2_SETTINGS_AT(version, 0x000);
Z2_SETTINGS_AT(music, 0x004);
Z2_SETTINGS_AT(sfx, 0x008);
Z2_SETTINGS_AT(vres, 0x00C);
Z2_SETTINGS_AT(vfull, 0x010);
Z2_SETTINGS_AT(vsize, 0x014);
Z2_SETTINGS_AT(x_retro, 0x018);
Z2_SETTINGS_AT(x_hud, 0x01C);
Z2_SETTINGS_AT(vquality, 0x020);
Z2_SETTINGS_AT(x_hide, 0x024);
Z2_SETTINGS_AT(x_pause, 0x028);
Z2_SETTINGS_AT(web_server, 0x02C);
Z2_SETTINGS_AT(reserved0, 0x06C);
Z2_SETTINGS_AT(name, 0x41C);
Z2_SETTINGS_AT(passwd, 0x45C);
Z2_SETTINGS_AT(udid, 0x49C);
Z2_SETTINGS_AT(cleared_text, 0x4DC);
Z2_SETTINGS_AT(cleared_word, 0x61C);
Z2_SETTINGS_AT(ui_box, 0x620);
Z2_SETTINGS_AT(ui_double_select, 0x624);
Z2_SETTINGS_AT(ui_double_reinforce, 0x628);
Z2_SETTINGS_AT(ui_nonplayer_select, 0x62C);
Z2_SETTINGS_AT(ui_percent, 0x630);
Z2_SETTINGS_AT(ui_scroll, 0x634);
Z2_SETTINGS_AT(ui_wheel_invert, 0x638);
Z2_SETTINGS_AT(ui_slider, 0x63C);
Z2_SETTINGS_AT(ui_num_chat, 0x640);
Z2_SETTINGS_AT(ui_right_only, 0x644);
Z2_SETTINGS_AT(ui_drag_drop, 0x648);
Z2_SETTINGS_AT(ui_lefty, 0x64C);
Z2_SETTINGS_AT(ui_multitouch, 0x650);
Z2_SETTINGS_AT(ui_colorblind, 0x654);
Z2_SETTINGS_AT(chat_height, 0x658);
Z2_SETTINGS_AT(ui_rest, 0x664);
Z2_SETTINGS_AT(gsize, 0x720);
Z2_SETTINGS_AT(qname, 0x724);
Z2_SETTINGS_AT(email, 0x764);
Z2_SETTINGS_AT(reserved1, 0x7A4);
Z2_SETTINGS_AT(uid, 0xB24);
Z2_SETTINGS_AT(display_name, 0xB64);
Z2_SETTINGS_AT(logged_in, 0xBA4);
Z2_SETTINGS_AT(session_key, 0xBA8);
Z2_SETTINGS_AT(lid, 0xBE8);
Z2_SETTINGS_AT(web_name, 0xC28);
Z2_SETTINGS_AT(web_token, 0xC68);
Z2_SETTINGS_AT(news_open, 0xCA8);
Z2_SETTINGS_AT(news, 0xCAC);
Z2_SETTINGS_AT(web_passwd, 0xCB0);
Z2_SETTINGS_AT(reserved2, 0xCF0);
static_assert(offsetof(Settings, ui_rest) + sizeof(Settings::ui_rest) ==
                  offsetof(Settings, ui_box) + SETTINGS_UI_WORDS * 4,
              "the UI options block is 64 words");
#undef Z2_SETTINGS_AT
