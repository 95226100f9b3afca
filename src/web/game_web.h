// game_web: the web API client: the request queue and its per-frame reply
// loop, the requests the game sends, the login answer with its ranks, and the
// documents the server keeps in step with the document directory.
//
// Every request goes to "/z2/api.php" on the web host with the player's
// identity in "&_" query fields and its own data in a form body. A reply is
// taken only with "X-Response: OK" and no "X-Error"; it is then handled by its
// "X-Type" and handed to a running mod as {type "api:" + X-Type, value body}.
// Nothing is retried.
//
// A request that fails (no connection, no progress for GAME_WEB_TIMEOUT
// seconds, a reply that is not the game's, an "X-Error", a login reply that
// cannot be read) shows the error screen, so a player waiting on "One
// moment..." always gets an answer; a failed login leaves the account as it
// was. The web server is the settings' `web_server` ("host" or "host:port",
// set by the "-web" option), else GAME_WEB_HOST on port 80.
#pragma once

#include <string>
#include <vector>

#include "ruvezor/util/qel_var.h"

class Game;
struct WebHandle;

// One queued exchange with the web API; owned by web_reqs once queued.
class WebRequest {
public:
    std::string host;             // web API host
    int port = 80;
    std::string path = "/";       // path and query string
    std::string body;             // form body; empty makes a GET
    float timeout = 5.0f;         // seconds without progress before the HTTP client gives up
    WebHandle* handle = nullptr;  // owned; null until started

    virtual ~WebRequest();

    static std::string urlencode(std::string text);
};

// Every request in flight, in queueing order.
extern std::vector<WebRequest*> web_reqs;
// Frees every request still in flight (shutdown: no answer will be read).
void game_web_drop_all();

// ---- queue and replies (game_web.cpp) ---------------------------------------------

// Starts the request when it has no handle yet and appends it to web_reqs.
void game_web_queue(Game& game, WebRequest* request);
// Finishes, handles and frees every request whose answer is complete.
void game_web_loop(Game& game);
// An accepted reply: its type's handler, then the mod event.
void game_web_handle(Game& game, WebRequest* request);
// Pushes "menus_error" showing text; nothing when headless.
void game_web_error(Game& game, std::string text);

// Seconds a request may go without progress; a player waits on it.
#define GAME_WEB_TIMEOUT 5.0f
// What the error screen says when the web server gives no answer of its own.
#define GAME_WEB_UNREACHABLE "Could not reach the game server"

// ---- the web server (game_web.cpp) -------------------------------------------------

struct WebServer {
    std::string host;
    int port = 80;
};
// "host" or "host:port" (port 1..65535) into out; false for anything else.
bool game_web_server_parse(const std::string& text, WebServer& out);
// The game's stored web server, else (also for no game) the default host on
// port 80: the debug host when the debug server is asked for.
WebServer game_web_server(const Game* game);
// "http://host[:port]" + path: a page of that web server.
std::string game_web_url(const Game* game, const char* path);
// The "-web" option: a valid server is stored in the settings ("" goes back
// to the default); anything else is logged and changes nothing.
void game_web_configure(Game& game, const char* text);

// ---- requests (game_web.cpp) -------------------------------------------------------

// 32 lowercase hex digits of the MD5 of the text's bytes.
std::string md5_digest(std::string text);
// A member of a reply without adding it to the reply; none when v is no dict
// or lacks it.
var _game_web_member(const var& v, const char* key);
// "/z2/api.php?" and the identity fields, ending with "&_action=" and the action.
std::string game_core_request(Game& game, WebRequest& request, std::string action);
// A new request for the action to the web host, its path built; body empty.
WebRequest* game_web_request(Game& game, const std::string& action);

// The requests behind Game::do_login, Game::web_friends, Game::web_store and
// Game::web_receipts.
void game_web_login(Game& game);
void game_web_friends(Game& game);
void game_web_store(Game& game);
void game_web_receipts(Game& game);

// ---- login answer and ranks (game_web_login.cpp, game_web_rank.cpp) ----------------

void game_web_handle_login(Game& game, WebRequest* request);
// Sets the achievements "rank1".."rank<rank>" (at most GAME_WEB_RANK_MAX).
void game_web_handle_rank(Game& game, int rank);
enum { GAME_WEB_RANK_MAX = 1000 };

// ---- document sync (game_web_sync.cpp) ---------------------------------------------

// Applies the server's sync message (JSON text) to the document directory.
void game_web_handle_sync(Game& game, std::string text);
// False (and one log line) for a name with "/", "\\" or "..".
bool sync_fname_ok(std::string name);
// The member's number, 0 when dict has no such member.
float sync_get_value(var& dict, std::string name);
// False (the driver logs why) when the document could not be written.
bool sync_doc_save(std::string name, std::string bytes);
// Empties and then deletes the document when it exists.
void sync_doc_remove(std::string name);
