// The secrets of the service's HTTP side and the sessions built on them, without networking.
// The auth file keeps salted Argon2id hashes of the operator's and the viewer's PIN and of each
// named API token, and the MQTT password (in clear: the bridge must give it to the broker). The
// guard checks logins, sessions and tokens for the server while following the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "schedule/SchedulerService.h"

namespace server {

enum class Role { None, Viewer, Operator };

// "operator", "viewer", or "" for None.
const char* RoleName(Role role);
// "operator" or "viewer"; false for anything else.
bool ParseRole(const std::string& text, Role& role);

// The cost of the hashes made from now on (crypto_pwhash's opslimit and memlimit). Checks use the
// cost written in each hash. The default keeps a login under 0.3 s on a small machine; tests
// lower it to keep fast.
struct HashCost {
    unsigned long long ops;
    size_t memBytes;
};
HashCost DefaultHashCost();
void SetHashCost(HashCost cost);

// The auth file, JSON:
//   {"pins": {"operator": HASH, "viewer": HASH},
//    "tokens": [{"name": NAME, "id": ID, "hash": HASH, "created": "2026-12-11T12:00:00Z"}],
//    "mqtt_password": TEXT}
// Keys it does not know are kept as they were. A token is ID "." SECRET: the ID finds its entry,
// only the hash of the whole token is kept.
class AuthFile {
public:
    static constexpr size_t kMaxFileBytes = 1 << 20;
    static constexpr size_t kMaxNameLength = 64;

    // Reads path. A missing file is an empty one (no PINs, no tokens). A file that group or others
    // may read is made 0600 (notice says so) or, when that fails, refused. False with a one-line
    // error for a file that cannot be read or is no auth file.
    static bool Load(const std::string& path, AuthFile& out, std::string& error,
                     std::string* notice = nullptr);
    // Writes path whole and atomically (through symbolic links), mode 0600, keeping the file's
    // owner; a new file made by root takes its folder's owner and group (a service's folder). A
    // file that others could read is made 0600 before the secrets are written (notice says so).
    bool Save(const std::string& path, std::string& error, std::string* notice = nullptr) const;

    // 4 to 12 digits, nothing else; false with the one-line reason.
    static bool CheckPinText(const std::string& pin, std::string& error);
    // Hashes and keeps the PIN of role (Operator or Viewer). Refuses a bad PIN, and a viewer's
    // PIN that is the operator's (or the other way round): it would open the other role.
    bool SetPin(Role role, const std::string& pin, std::string& error);
    bool HasPin(Role role) const;
    // The role whose PIN this is, or None. Slow by design (one or two hashes): never on a thread
    // that serves connections.
    Role CheckPin(const std::string& pin) const;

    // Letters, digits, '.', '_' and '-', 1 to 64 of them; false with the one-line reason.
    static bool CheckTokenName(const std::string& name, std::string& error);
    // Makes a new token named name and keeps its hash; token receives it (the only time it is
    // seen). Refuses a bad name and a name that is taken.
    bool NewToken(const std::string& name, std::string& token, std::string& error);
    // False when no token has that name.
    bool RevokeToken(const std::string& name);
    std::vector<std::string> TokenNames() const;  // in the order they were made
    // The name of the token this is, if it is one. Slow by design (one hash).
    std::optional<std::string> CheckToken(const std::string& token) const;

    std::optional<std::string> MqttPassword() const { return m_mqttPassword; }
    void SetMqttPassword(std::string password) { m_mqttPassword = std::move(password); }

private:
    friend class AuthGuard;
    struct Token {
        std::string name;
        std::string id;
        std::string hash;
        std::string created;
    };
    static bool Parse(const std::string& text, AuthFile& out, std::string& error);
    std::string Text() const;
    const Token* FindTokenById(const std::string& id) const;

    std::string m_operatorHash;
    std::string m_viewerHash;
    std::vector<Token> m_tokens;
    std::optional<std::string> m_mqttPassword;
    std::string m_document = "{}";  // the file as read, JSON: what this class does not know stays
};

// Logins, sessions, lockouts and tokens while the service runs, following the auth file: a look
// at most once a second, when it is asked something, so that a change of the file holds within a
// second or so. Thread-safe. Hashes are checked one at a time (each takes its memory).
class AuthGuard {
public:
    using Log = std::function<void(LogLevel level, const std::string& text)>;

    static constexpr int64_t kSessionIdleMs = 12LL * 3600 * 1000;
    static constexpr size_t kMaxSessions = 1000;            // beyond, the longest idle session ends
    static constexpr int kFailuresToLock = 5;               // wrong PINs from one address ...
    static constexpr int64_t kFailureWindowMs = 60 * 1000;  // ... within this time lock it
    static constexpr int64_t kFirstLockMs = 60 * 1000;      // each further lock doubles it
    static constexpr int64_t kMaxLockMs = 3600 * 1000;
    static constexpr size_t kMaxAddresses = 4096;  // beyond, the longest quiet address is forgotten
    static constexpr int kLookMs = 1000;

    // log: a line per login, wrong PIN, lockout and change of the file; called with the guard's
    // lock held, so it must not call the guard.
    AuthGuard(std::string path, Log log);
    ~AuthGuard();
    AuthGuard(const AuthGuard&) = delete;
    AuthGuard& operator=(const AuthGuard&) = delete;

    // Reads the file the first time; false with a one-line reason (then nothing is allowed).
    bool Open(std::string& error);
    bool HasPin(Role role);

    struct Login {
        int status = 401;  // 200, 401 (wrong PIN), 429 (address locked out)
        Role role = Role::None;
        std::string sessionId;  // with 200
        int retryAfterS = 0;    // with 429
    };
    // A login from address (as the connection gives it) at nowMs. Slow by design: never on a
    // thread that serves connections.
    Login TryLogin(const std::string& address, const std::string& pin, int64_t nowMs);
    void Logout(const std::string& sessionId);
    // The session's role, or None when it is unknown or ended; a live session's idle time starts
    // again at nowMs.
    Role Session(const std::string& sessionId, int64_t nowMs);
    // The role of an API token (Operator), or None. Fast for a token seen before; the first check
    // of a token takes a hash.
    Role Bearer(const std::string& token);
    // Without any hash: the role when the answer is known at once (a token seen before, or one
    // that is plainly no token), empty when Bearer must take a hash to tell.
    std::optional<Role> BearerCached(const std::string& token);
    // Looks at the file now.
    void Reload();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace server
