// zentar_sync_hooks: the seams through which the world sync reaches the game.
//
// The sync runs on a bare world and endpoints; what it needs from the running
// game (the host endpoint this process owns, the player's controls) comes
// through these. The game side (app/game.cpp) fills them in when it is linked;
// with none installed the sync behaves as in a process that hosts nothing and
// shows nothing.
#pragma once

class Net;
struct Zentar;

struct ZentarSyncHooks {
    // The host endpoint of this process and, in *world, the world it serves;
    // null when this process hosts no match.
    Net* (*host)(Zentar** world);
    // The host gave the world its view: the world's controls follow it. Without
    // the hook only the world's own view is set.
    void (*view_set)(Zentar& world, float x, float y, float w, float h);
    // The world's planets changed hands or it started over: its controls set
    // themselves up again on the next frame.
    void (*ui_reset)(Zentar& world);
};
extern ZentarSyncHooks zentar_sync_hooks;
