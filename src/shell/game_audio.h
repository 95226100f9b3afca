// game_audio: the audio front end. Sound and music requests from anywhere in
// the game are collected and handed to the mixer once per frame: each named
// sound plays at most once a frame, music cross-fades over half a second, and
// the settings' volumes are applied. Main thread only.
#pragma once

#include "ruvezor/util/qel_log.h"  // QelLogLimit
#include "ruvezor/util/qel_var.h"

// No data of its own; the state is process-wide (_game_audio below).
struct GameAudio {
    void play_sound(const char* name);
    void play_music(const char* name);
    void stop_music();  // every stream fades out; play_music("mus-none") comes here
    void loop(float dt);
    // Applies changed volumes at once and plays the pending sounds.
    void volume_reset();
};

// The front end's state, process-wide; both dicts exist, empty, from the start.
struct _GameAudioData {
    var _game_audio_sounds{VAR_DICT, 0};  // name -> 1, requested since the last audio loop
    var _game_audio_vols{VAR_DICT, 0};    // stream id -> fade level in [0, 1]
    int _game_music_id = 0;               // current music stream, 0 for none
    int _game_music_pause = 0;            // 1 while the streams are paused for a music volume of 0
    // A host's "music" messages ask for music through the online play
    // script, as often as the host likes: a few lines a second.
    QelLogLimit music_log{"audio", "requests for music were not logged"};
};
extern _GameAudioData _game_audio;

void _game_audio_loop(float dt, int force);
// Points the world's sound seam at the game's play_sound.
void _game_audio_hook_world();
