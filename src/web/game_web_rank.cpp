// game_web_rank: the player's rank turned into the platform achievements
// "rank1" up to "rank<rank>". Kept in a file of its own so that a program can
// bring its own rank handler without clashing with the login answer's file.
#include <cstdio>

#include "shell/game_parts.h"
#include "web/game_web.h"
#include "ruvezor/util/qel_log.h"
#include "ruvezor/util/qel_social.h"

void game_web_handle_rank(GameParts& game, int rank) {
    qel_log("rank: cur = %d\n", rank);
    if (game.headless) return;  // achievements belong to a platform user
    // A hostile answer must not keep the frame busy for billions of calls.
    int top = rank < (int)GAME_WEB_RANK_MAX ? rank : (int)GAME_WEB_RANK_MAX;
    char name[32];
    for (int i = 1; i <= top; i++) {
        snprintf(name, sizeof(name), "rank%d", i);
        social_achievement_set(name, 100);
    }
}
