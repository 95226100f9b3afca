// game_audio: sounds once per frame, music cross-fades, volumes from the
// settings; everything reaches the engine through the mixer.
#include "shell/game_audio.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "shell/game_parts.h"
#include "shell/game_settings.h"
#include "ruvezor/util/qel_driver.h"  // driver_timer_get_ticks
#include "ruvezor/util/qel_log.h"
#include "ruvezor/util/qel_mixer.h"
#include "world/zentar_sim.h"

_GameAudioData _game_audio;

void GameAudio::play_sound(const char* name) {
    GameParts* g = game_parts();
    // Nothing plays without a window, nor while suspended.
    if (!name || !g || !g->active || g->headless) return;
    _game_audio._game_audio_sounds[name] = var(1);
}

void GameAudio::play_music(const char* name) {
    if (!name) return;
    if (_game_audio.music_log.allow(driver_timer_get_ticks() / 1000)) qel_log("play_music: %s\n", name);
    // "mus-none" is how the menus and mods ask for silence: there is no such
    // file to look for, the music just fades out.
    if (strcmp(name, "mus-none") == 0) {
        stop_music();
        return;
    }
    int id = mixer_stream_load(name);
    if (id == _game_audio._game_music_id) return;
    _game_audio._game_music_id = id;
    _game_audio._game_music_pause = 0;
    // Id 0 is no sound: the old music fades out and nothing fades in.
    if (!id) return;
    mixer_stream_play(id, 0);
    _game_audio._game_audio_vols.__set__(var(id), var(0.0));
}

void GameAudio::stop_music() { _game_audio._game_music_id = 0; }

void GameAudio::loop(float dt) { _game_audio_loop(dt, 0); }

void GameAudio::volume_reset() { _game_audio_loop(0, 1); }

void _game_audio_loop(float dt, int force) {
    GameParts* g = game_parts();
    int sfx = g ? g->settings.sfx : 0;
    int music = g ? g->settings.music : 0;

    // Sounds, in name order; with the effects volume at 0 none is even loaded.
    float v = (float)sfx / 100.0f;
    if (v != 0) {
        var walk(_game_audio._game_audio_sounds.__iter__());
        var name, one;
        while (walk.__pair__(name, one)) mixer_sample_play(mixer_sample_load(name.__str__().c_str()), v, 0);
    }
    _game_audio._game_audio_sounds = var(VAR_DICT, 0);

    if (!(dt > 0)) dt = 0;  // also catches NaN
    double step = 2.0 * dt;  // a full fade takes half a second

    // The dict's keys are texts ("10" before "9"): walk the streams by their
    // numeric id instead.
    std::vector<std::pair<int, double>> streams;
    {
        var walk(_game_audio._game_audio_vols.__iter__());
        var key, level;
        while (walk.__pair__(key, level)) streams.emplace_back((int)key.__num__(), level.__num__());
    }
    std::sort(streams.begin(), streams.end());

    for (auto [id, level] : streams) {
        double now;
        if (id == _game_audio._game_music_id) {
            now = level < 1 ? std::min(1.0, level + step) : level;
        } else {
            now = level - step;
            if (now <= 0) {
                mixer_stream_stop(id);
                _game_audio._game_audio_vols.__del__(var(id));
                continue;
            }
        }
        // One flag for all streams: only the first one in id order changes.
        if (_game_audio._game_music_pause && music > 0) {
            _game_audio._game_music_pause = 0;
            mixer_stream_pause(id, 0);
        }
        if (!_game_audio._game_music_pause && music < 1) {
            _game_audio._game_music_pause = 1;
            mixer_stream_pause(id, 1);
        }
        if (now == level && !force) continue;
        mixer_stream_volume(id, (float)(music * now / 100.0));
        _game_audio._game_audio_vols.__set__(var(id), var(now));
    }
}

static void _game_audio_sys_sound(const char* name) {
    GameParts* g = game_parts();
    if (g) g->audio.play_sound(name);
}

void _game_audio_hook_world() { sys_hooks.sound = _game_audio_sys_sound; }
