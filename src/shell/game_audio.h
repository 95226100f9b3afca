// game_audio: the audio front end. Sound and music requests from anywhere in
// the game are collected and handed to the mixer once per frame: each named
// sound plays at most once a frame, music cross-fades over half a second, and
// the settings' volumes are applied. Main thread only.
#pragma once

#include "ruvezor/util/qel_var.h"

// No data of its own; the state is process-wide below.
struct GameAudio {
    void play_sound(const char* name);
    void play_music(const char* name);
    void stop_music();  // no caller: playing an unknown name fades out too
    void loop(float dt);
    // Applies changed volumes at once and plays the pending sounds.
    void volume_reset();
};

extern var _game_audio_sounds;  // name -> 1, requested since the last audio loop
extern var _game_audio_vols;    // stream id -> fade level in [0, 1]
extern int _game_music_id;      // current music stream, 0 for none
extern int _game_music_pause;   // 1 while the streams are paused for a music volume of 0

void _game_audio_loop(float dt, int force);
// Points the world's sound seam at the game's play_sound.
void _game_audio_hook_world();
