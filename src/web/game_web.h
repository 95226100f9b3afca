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
// A request fails when it cannot connect, makes no progress for
// GAME_WEB_TIMEOUT seconds, is not over after its deadline (GAME_WEB_DEADLINE
// seconds), or gets a reply that is not the game's, an "X-Error", or a login
// reply without an account id or a readable body. Who hears of it depends on
// who asked:
//   the player  waiting on "One moment..." (login, "Create ZentarID"): the
//               error screen, while the player is still on that screen;
//               after leaving it, a log line only
//   a mod       (z2_api_call): the event {type "api:error", action, value}
//   nobody      (receipts, friends, the store offer): a log line; receipts
//               go again with the next login
// A failed login or creation leaves the account as it was. A login reply for
// a screen the player has left is still stored, but changes no screen.
//
// The web server is the one "-web HOST[:PORT]" names for this run, else
// GAME_WEB_HOST on port 80; it is never stored, so no later run sends the
// account's password token to a server it was not given for.
#pragma once

#include <string>
#include <vector>

#include "ruvezor/util/qel_var.h"

struct GameParts;
class State;
struct WebHandle;

// Who is told when a request comes to nothing.
enum class WebFor {
    nobody,  // logged only
    player,  // the error screen, while the player waits on `screen`
    mod,     // the running mod, as {type "api:error"}
};

// One queued exchange with the web API; owned by web_reqs once queued.
class WebRequest {
public:
    std::string host;             // web API host
    int port = 80;
    std::string path = "/";       // path and query string
    std::string body;             // form body; empty makes a GET
    float timeout = 5.0f;         // seconds without progress before the HTTP client gives up
    float deadline = 30.0f;       // seconds before it fails, progress or not
    WebHandle* handle = nullptr;  // owned; null until started
    std::string action;           // the API action asked for
    WebFor waiter = WebFor::nobody;
    State* screen = nullptr;      // the screen a player request was made for

    virtual ~WebRequest();

    static std::string urlencode(std::string text);
};

// Frees every request still in flight (shutdown: no answer will be read).
void game_web_drop_all();

// Default web API hosts, used unless "-web" names one for this run.
extern const char* const GAME_WEB_HOST;
extern const char* const GAME_WEB_HOST_DEBUG;

// The store and its receipts live with the screens (screens/ext_store.h);
// the replies reach them through these, which the game fills in. Without
// them requests carry no receipts and store replies go only to the mod.
struct WebStoreHooks {
    var (*data)();               // ext_store_web_data: what requests carry
    void (*receipts)(var valid); // ext_store_web_receipts_callback
    void (*store)(var reply);    // ext_store_web_store_callback: shows the store
};
extern WebStoreHooks web_store_hooks;

// ---- queue and replies (game_web.cpp) ---------------------------------------------

// Starts the request when it has no handle yet and appends it to web_reqs.
void game_web_queue(GameParts& game, WebRequest* request);
// Finishes, handles and frees every request whose answer is complete.
void game_web_loop(GameParts& game);
// An accepted reply: its type's handler, then the mod event.
void game_web_handle(GameParts& game, WebRequest* request);
// Pushes "menus_error" showing text; nothing when headless.
void game_web_error(GameParts& game, std::string text);
// True while the player still looks at the screen the request was made for.
bool game_web_waited(GameParts& game, const WebRequest* request);
// True while a player request made for this screen is in flight: the screen
// shows "One moment..." again when the player comes back to it.
bool game_web_pending(const State* screen);

// Seconds a request may go without progress; a player waits on it.
#define GAME_WEB_TIMEOUT 5.0f
// Seconds a request may take in all, however steadily its answer trickles in.
#define GAME_WEB_DEADLINE 30.0f
// The deadline of the requests made from now on (tests shorten it).
void game_web_set_deadline(float seconds);
// What the error screen says when the web server gives no answer of its own.
#define GAME_WEB_UNREACHABLE "Could not reach the game server"

// Module state, process-wide.
struct _GameWebData {
    std::vector<WebRequest*> web_reqs;  // every request in flight, in queueing order
    float deadline = GAME_WEB_DEADLINE;   // seconds the requests made from now on may take
};
extern _GameWebData _game_web;

// ---- the web server (game_web.cpp) -------------------------------------------------

struct WebServer {
    std::string host;
    int port = 80;
};
// "host" or "host:port" (port 1..65535) into out; false for anything else.
bool game_web_server_parse(const std::string& text, WebServer& out);
// The server "-web" named for this run, else (also for no game) the default
// host on port 80: the debug host when the debug server is asked for.
WebServer game_web_server(const GameParts* game);
// True when this run talks to a server other than the default one.
bool game_web_server_custom(const GameParts* game);
// "host" or "host:port" (the port only when it is not 80).
std::string game_web_server_name(const WebServer& server);
// "http://host[:port]" + path: a page of that web server.
std::string game_web_url(const GameParts* game, const char* path);
// The "-web" option: a valid server is used for this run ("" is the
// default); anything else is logged and leaves the default.
void game_web_configure(GameParts& game, const char* text);

// ---- requests (game_web.cpp) -------------------------------------------------------

// 32 lowercase hex digits of the MD5 of the text's bytes.
std::string md5_digest(std::string text);
// A member of a reply without adding it to the reply; none when v is no dict
// or lacks it.
var _game_web_member(const var& v, const char* key);
// "/z2/api.php?" and the identity fields, ending with "&_action=" and the action.
std::string game_core_request(GameParts& game, WebRequest& request, std::string action);
// A new request for the action to the web host, its path built; body empty.
WebRequest* game_web_request(GameParts& game, const std::string& action);
// A new request for the action with "&data=" and the encoded data as its body.
WebRequest* game_web_action(GameParts& game, const std::string& action, const std::string& data);

// The account form as it was before a new ZentarID was typed into it.
struct WebAccountForm {
    std::string name, passwd, email;
};
// Queues "Create ZentarID" for the screen the player is on (or moving to);
// unless the server accepts it, the form goes back to `before`.
void game_web_create(GameParts& game, const std::string& data, const WebAccountForm& before);

// The requests behind Game::do_login, Game::web_friends, Game::web_store and
// Game::web_receipts.
void game_web_login(GameParts& game);
void game_web_friends(GameParts& game);
void game_web_store(GameParts& game);
void game_web_receipts(GameParts& game);

// ---- login answer and ranks (game_web_login.cpp, game_web_rank.cpp) ----------------

void game_web_handle_login(GameParts& game, WebRequest* request);
// The reply's "X-UID", the account id, whole up to one byte past
// GAME_ACCOUNT_ID_MAX (a longer one makes the login unreadable).
std::string game_web_reply_uid(WebHandle* h);
// Sets the achievements "rank1".."rank<rank>" (at most GAME_WEB_RANK_MAX).
void game_web_handle_rank(GameParts& game, int rank);
enum { GAME_WEB_RANK_MAX = 1000 };

// ---- document sync (game_web_sync.cpp) ---------------------------------------------

// Documents one sync message may write or remove; the rest wait for the next login.
enum { SYNC_CHANGES_MAX = 100 };
// Applies the server's sync message (JSON text) to the document directory.
void game_web_handle_sync(GameParts& game, std::string text);
// False (and one log line) for a name with "/", "\\" or "..".
bool sync_fname_ok(std::string name);
// The member's number, 0 when dict has no such member.
float sync_get_value(var& dict, std::string name);
// False (the driver logs why) when the document could not be written.
bool sync_doc_save(std::string name, std::string bytes);
// Empties and then deletes the document when it exists.
void sync_doc_remove(std::string name);
