#include "server/Auth.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <deque>
#include <nlohmann/json.hpp>
#include <unordered_map>

#include "platform/Clock.h"
#include "platform/FileReplace.h"

namespace server {

namespace {

using json = nlohmann::json;

constexpr size_t kMinPin = 4;
constexpr size_t kMaxPin = 12;
constexpr size_t kTokenIdBytes = 4;
constexpr size_t kTokenSecretBytes = 32;
constexpr size_t kTokenIdLength = kTokenIdBytes * 2;
constexpr size_t kTokenSecretLength = 43;  // 32 bytes in unpadded base64url
constexpr size_t kTokenLength = kTokenIdLength + 1 + kTokenSecretLength;
constexpr size_t kSessionIdBytes = 32;
constexpr int64_t kAddressMemoryMs = 24LL * 3600 * 1000;  // a quiet address starts over after

// Argon2id with 2 passes over 19 MiB: a login with a wrong PIN (two hashes) takes about 0.1 s on
// a small two-core machine, and checks run one at a time, so logins never take more than 19 MiB.
constexpr unsigned long long kHashOps = 2;
constexpr size_t kHashMem = 19u << 20;
std::atomic<unsigned long long> g_hashOps{kHashOps};
std::atomic<size_t> g_hashMem{kHashMem};

// libsodium is ready (it only fails without a source of randomness: then nothing is allowed).
bool SodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

std::string Hash(const std::string& secret) {
    if (!SodiumReady())
        return {};
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, secret.data(), secret.size(), g_hashOps.load(), g_hashMem.load()) !=
        0)
        return {};  // out of memory
    return out;
}

bool Verify(const std::string& hash, const std::string& secret) {
    return !hash.empty() && SodiumReady() &&
           crypto_pwhash_str_verify(hash.c_str(), secret.data(), secret.size()) == 0;
}

std::string RandomHex(size_t bytes) {
    std::vector<unsigned char> raw(bytes);
    randombytes_buf(raw.data(), raw.size());
    std::string hex(bytes * 2 + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), raw.data(), raw.size());
    hex.pop_back();
    return hex;
}

std::string RandomBase64Url(size_t bytes) {
    std::vector<unsigned char> raw(bytes);
    randombytes_buf(raw.data(), raw.size());
    constexpr int variant = sodium_base64_VARIANT_URLSAFE_NO_PADDING;
    std::string text(sodium_base64_ENCODED_LEN(bytes, variant), '\0');
    sodium_bin2base64(text.data(), text.size(), raw.data(), raw.size(), variant);
    text.resize(std::strlen(text.c_str()));
    sodium_memzero(raw.data(), raw.size());
    return text;
}

bool IsLowerHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}
bool IsBase64Url(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
}

// The ID of a token of the shape this program makes (ID "." SECRET), or empty.
std::string TokenId(const std::string& token) {
    if (token.size() != kTokenLength || token[kTokenIdLength] != '.')
        return {};
    for (size_t i = 0; i < token.size(); ++i) {
        if (i < kTokenIdLength ? !IsLowerHex(token[i])
                               : i > kTokenIdLength && !IsBase64Url(token[i]))
            return {};
    }
    return token.substr(0, kTokenIdLength);
}

std::string UtcText(int64_t epochMs) {
    const time_t t = static_cast<time_t>(epochMs / 1000);
    tm fields{};
    gmtime_r(&t, &fields);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &fields);
    return text;
}

std::string ModeText(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// The auth file open at fd must be a plain file that only its owner may use: a file that
// group or others may use is made 0600 (said through notice, when given), or refused.
bool CheckPrivate(int fd, const std::string& path, struct stat& st, std::string& error,
                  std::string* notice) {
    if (::fstat(fd, &st) != 0) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = path + " is not a plain file";
        return false;
    }
    if ((st.st_mode & 077) != 0) {
        if (::fchmod(fd, st.st_mode & 07700) != 0) {
            error = path + " may be read by others (mode " + ModeText(st.st_mode) +
                    ") and cannot be made 0600: " + std::strerror(errno);
            return false;
        }
        if (notice != nullptr) {
            *notice =
                path + " could be read by others (mode " + ModeText(st.st_mode) + "): made it 0600";
        }
    }
    return true;
}

// Reads the auth file's bytes; found is false when there is none. A file that group or others
// may use is made 0600 first (notice), or refused.
bool ReadSecretFile(const std::string& path, std::string& text, bool& found, std::string& error,
                    std::string* notice) {
    text.clear();
    found = false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT)
            return true;
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    bool ok = CheckPrivate(fd, path, st, error, notice);
    if (ok && st.st_size > static_cast<off_t>(AuthFile::kMaxFileBytes)) {
        error = path + " is too large for an auth file";
        ok = false;
    }
    while (ok) {
        char chunk[4096];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = "cannot read " + path + ": " + std::strerror(errno);
            ok = false;
        } else if (n == 0) {
            break;
        } else {
            text.append(chunk, static_cast<size_t>(n));
            if (text.size() > AuthFile::kMaxFileBytes) {
                error = path + " is too large for an auth file";
                ok = false;
            }
        }
    }
    ::close(fd);
    found = ok;
    if (!ok)
        sodium_memzero(text.data(), text.size());
    return ok;
}

bool OnlyBlanks(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; });
}

bool IsHash(const json& value) {
    return value.is_string() && value.get_ref<const std::string&>().rfind("$argon2", 0) == 0;
}

// The key by which an address is locked out: an IPv6 address by its /64 network (one machine
// commonly has a whole one), an IPv4 address (mapped or not) by itself.
std::string AddressKey(const std::string& address) {
    std::string host = address;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    host = host.substr(0, host.find('%'));
    unsigned char bytes[16];
    if (::inet_pton(AF_INET6, host.c_str(), bytes) == 1) {
        static const unsigned char mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
        char text[INET6_ADDRSTRLEN];
        if (std::memcmp(bytes, mapped, sizeof mapped) == 0) {
            ::inet_ntop(AF_INET, bytes + 12, text, sizeof text);
            return text;
        }
        std::memset(bytes + 8, 0, 8);
        ::inet_ntop(AF_INET6, bytes, text, sizeof text);
        return std::string(text) + "/64";
    }
    return address.substr(0, 80);
}

}  // namespace

const char* RoleName(Role role) {
    return role == Role::Operator ? "operator" : role == Role::Viewer ? "viewer" : "";
}

bool ParseRole(const std::string& text, Role& role) {
    if (text != "operator" && text != "viewer")
        return false;
    role = text == "operator" ? Role::Operator : Role::Viewer;
    return true;
}

HashCost DefaultHashCost() {
    return {kHashOps, kHashMem};
}

void SetHashCost(HashCost cost) {
    g_hashOps = std::max<unsigned long long>(cost.ops, crypto_pwhash_OPSLIMIT_MIN);
    g_hashMem = std::max<size_t>(cost.memBytes, crypto_pwhash_MEMLIMIT_MIN);
}

// --- AuthFile ---

bool AuthFile::Load(const std::string& path, AuthFile& out, std::string& error,
                    std::string* notice) {
    std::string text;
    bool found = false;
    if (!ReadSecretFile(path, text, found, error, notice))
        return false;
    AuthFile file;
    if (found && !Parse(text, file, error)) {
        error = path + ": " + error;
        return false;
    }
    out = std::move(file);
    return true;
}

bool AuthFile::Parse(const std::string& text, AuthFile& out, std::string& error) {
    out = AuthFile();
    if (OnlyBlanks(text))
        return true;  // made by a write that did not finish: nothing in it yet
    const json doc = json::parse(text, nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) {
        error = "not an auth file (no JSON object)";
        return false;
    }
    if (doc.contains("pins")) {
        const json& pins = doc["pins"];
        if (!pins.is_object()) {
            error = "\"pins\" is not an object";
            return false;
        }
        for (const auto& [role, hash] :
             {std::pair{"operator", &out.m_operatorHash}, std::pair{"viewer", &out.m_viewerHash}}) {
            if (!pins.contains(role))
                continue;
            if (!IsHash(pins[role])) {
                error = std::string("the ") + role + " PIN is not an Argon2 hash";
                return false;
            }
            *hash = pins[role].get<std::string>();
        }
    }
    if (doc.contains("tokens")) {
        const json& tokens = doc["tokens"];
        if (!tokens.is_array()) {
            error = "\"tokens\" is not a list";
            return false;
        }
        for (const json& t : tokens) {
            Token token;
            std::string why;
            if (!t.is_object() || !t.contains("name") || !t["name"].is_string() ||
                !CheckTokenName(t["name"].get<std::string>(), why)) {
                error = "a token without a good name";
                return false;
            }
            token.name = t["name"].get<std::string>();
            const bool idOk = t.contains("id") && t["id"].is_string() &&
                              t["id"].get_ref<const std::string&>().size() == kTokenIdLength &&
                              std::all_of(t["id"].get_ref<const std::string&>().begin(),
                                          t["id"].get_ref<const std::string&>().end(), IsLowerHex);
            if (!idOk || !t.contains("hash") || !IsHash(t["hash"])) {
                error = "the token " + token.name + " has no good id or hash";
                return false;
            }
            token.id = t["id"].get<std::string>();
            token.hash = t["hash"].get<std::string>();
            if (t.contains("created") && t["created"].is_string())
                token.created = t["created"].get<std::string>();
            for (const Token& other : out.m_tokens) {
                if (other.name == token.name || other.id == token.id) {
                    error = "two tokens named " + token.name + " or with one id";
                    return false;
                }
            }
            out.m_tokens.push_back(std::move(token));
        }
    }
    if (doc.contains("mqtt_password")) {
        if (!doc["mqtt_password"].is_string()) {
            error = "\"mqtt_password\" is not a text";
            return false;
        }
        out.m_mqttPassword = doc["mqtt_password"].get<std::string>();
    }
    out.m_document = doc.dump();
    return true;
}

std::string AuthFile::Text() const {
    json doc = json::parse(m_document, nullptr, false);
    if (!doc.is_object())
        doc = json::object();
    // What was read is kept (keys of other programs, fields added by hand); what this class
    // keeps is written anew.
    json pins = doc.contains("pins") && doc["pins"].is_object() ? doc["pins"] : json::object();
    for (const auto& [role, hash] :
         {std::pair{"operator", &m_operatorHash}, std::pair{"viewer", &m_viewerHash}}) {
        if (hash->empty())
            pins.erase(role);
        else
            pins[role] = *hash;
    }
    doc["pins"] = pins;
    json tokens = json::array();
    for (const Token& token : m_tokens) {
        json entry = json::object();
        if (doc.contains("tokens") && doc["tokens"].is_array()) {
            for (const json& old : doc["tokens"]) {
                if (old.is_object() && old.value("id", "") == token.id)
                    entry = old;
            }
        }
        entry["name"] = token.name;
        entry["id"] = token.id;
        entry["hash"] = token.hash;
        if (!token.created.empty())
            entry["created"] = token.created;
        tokens.push_back(entry);
    }
    doc["tokens"] = tokens;
    if (m_mqttPassword)
        doc["mqtt_password"] = *m_mqttPassword;
    else
        doc.erase("mqtt_password");
    return doc.dump(2) + "\n";
}

bool AuthFile::Save(const std::string& path, std::string& error, std::string* notice) const {
    // The file is made, or made private, before the secrets go in: the replacement keeps its
    // mode, so no moment exists in which others could read them.
    struct stat before {};
    const bool existed = ::stat(path.c_str(), &before) == 0;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    bool ok = CheckPrivate(fd, path, st, error, existed ? notice : nullptr);
    if (ok && !existed && ::geteuid() == 0) {
        // Made by root in a service's folder (sudo ... --set-pin): the folder's owner, the
        // service's user, must read it.
        const size_t slash = path.rfind('/');
        const std::string folder = slash == std::string::npos ? "."
                                   : slash == 0               ? "/"
                                                              : path.substr(0, slash);
        struct stat dir {};
        if (::stat(folder.c_str(), &dir) == 0 && ::fchown(fd, dir.st_uid, dir.st_gid) != 0) {
            error = "cannot give " + path + " its folder's owner: " + std::strerror(errno);
            ok = false;
        }
    }
    ::close(fd);
    std::string text;
    if (ok) {
        try {
            text = Text();
        } catch (const json::exception&) {
            error = "cannot write " + path + ": the MQTT password is not valid UTF-8";
            ok = false;
        }
    }
    if (ok) {
        if (const int err = platform::ReplaceFileAtomically(path, text)) {
            error = "cannot write " + path + ": " + std::strerror(err);
            ok = false;
        }
    }
    if (!ok && !existed)
        ::unlink(path.c_str());  // the empty file made above
    return ok;
}

bool AuthFile::CheckPinText(const std::string& pin, std::string& error) {
    const bool digits =
        std::all_of(pin.begin(), pin.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (pin.size() < kMinPin || pin.size() > kMaxPin || !digits) {
        error = "a PIN is 4 to 12 digits (0-9), nothing else";
        return false;
    }
    return true;
}

bool AuthFile::SetPin(Role role, const std::string& pin, std::string& error) {
    if (role == Role::None) {
        error = "a PIN is for the operator or the viewer";
        return false;
    }
    if (!CheckPinText(pin, error))
        return false;
    const std::string& other = role == Role::Operator ? m_viewerHash : m_operatorHash;
    if (Verify(other, pin)) {
        error = std::string("the ") + RoleName(role) + " PIN must differ from the " +
                RoleName(role == Role::Operator ? Role::Viewer : Role::Operator) + " PIN";
        return false;
    }
    std::string hash = Hash(pin);
    if (hash.empty()) {
        error = "cannot hash the PIN (out of memory)";
        return false;
    }
    (role == Role::Operator ? m_operatorHash : m_viewerHash) = std::move(hash);
    return true;
}

bool AuthFile::HasPin(Role role) const {
    return role == Role::Operator ? !m_operatorHash.empty()
                                  : role == Role::Viewer && !m_viewerHash.empty();
}

Role AuthFile::CheckPin(const std::string& pin) const {
    std::string error;
    if (!CheckPinText(pin, error))
        return Role::None;
    if (Verify(m_operatorHash, pin))
        return Role::Operator;
    if (Verify(m_viewerHash, pin))
        return Role::Viewer;
    return Role::None;
}

bool AuthFile::CheckTokenName(const std::string& name, std::string& error) {
    const bool chars = std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '_' || c == '-';
    });
    if (name.empty() || name.size() > kMaxNameLength || !chars) {
        error = "a token name is 1 to 64 letters, digits, '.', '_' or '-'";
        return false;
    }
    return true;
}

bool AuthFile::NewToken(const std::string& name, std::string& token, std::string& error) {
    if (!CheckTokenName(name, error))
        return false;
    const auto taken = [&](auto field, const std::string& value) {
        return std::any_of(m_tokens.begin(), m_tokens.end(),
                           [&](const Token& t) { return t.*field == value; });
    };
    if (taken(&Token::name, name)) {
        error = "a token named " + name + " exists (revoke it first)";
        return false;
    }
    if (!SodiumReady()) {
        error = "no source of random numbers";
        return false;
    }
    std::string id;
    do {
        id = RandomHex(kTokenIdBytes);
    } while (taken(&Token::id, id));
    std::string made = id + "." + RandomBase64Url(kTokenSecretBytes);
    std::string hash = Hash(made);
    if (hash.empty()) {
        error = "cannot hash the token (out of memory)";
        return false;
    }
    m_tokens.push_back({name, id, std::move(hash), UtcText(platform::CurrentClock().NowMs())});
    token = std::move(made);
    return true;
}

bool AuthFile::RevokeToken(const std::string& name) {
    const auto it = std::find_if(m_tokens.begin(), m_tokens.end(),
                                 [&](const Token& t) { return t.name == name; });
    if (it == m_tokens.end())
        return false;
    m_tokens.erase(it);
    return true;
}

std::vector<std::string> AuthFile::TokenNames() const {
    std::vector<std::string> names;
    for (const Token& t : m_tokens)
        names.push_back(t.name);
    return names;
}

const AuthFile::Token* AuthFile::FindTokenById(const std::string& id) const {
    for (const Token& t : m_tokens) {
        if (t.id == id)
            return &t;
    }
    return nullptr;
}

std::optional<std::string> AuthFile::CheckToken(const std::string& token) const {
    const Token* entry = FindTokenById(TokenId(token));
    if (entry == nullptr || !Verify(entry->hash, token))
        return std::nullopt;
    return entry->name;
}

// --- AuthGuard ---

struct AuthGuard::Impl {
    std::string path;
    Log log;

    std::mutex hashLock;  // one hash at a time: each takes its memory
    std::mutex lock;      // everything below
    AuthFile file;
    std::string fileText;
    bool fileFound = false;
    uint64_t generation = 0;  // counts the changes of the file
    std::chrono::steady_clock::time_point lastLook{};
    bool looked = false;
    std::string problem;  // the last trouble with the file, said once

    // Sessions, tokens seen and addresses are kept by a keyed hash (BLAKE2b, a key of this
    // process) of the secret, so that looking one up tells nothing of the secrets by its time.
    unsigned char key[crypto_generichash_KEYBYTES];
    struct SessionEntry {
        Role role;
        int64_t lastMs;
    };
    std::unordered_map<std::string, SessionEntry> sessions;
    struct SeenToken {
        std::string id;
        std::string hash;
    };
    std::unordered_map<std::string, SeenToken> tokens;
    struct Address {
        std::deque<int64_t> failures;  // within the last minute
        int locks = 0;                 // lockouts since the last good login
        int64_t lockedUntilMs = 0;
        int64_t lastMs = 0;
        bool refusalSaid = false;  // a login refused in this lockout was logged
    };
    std::unordered_map<std::string, Address> addresses;

    std::string Digest(const std::string& secret) const {
        unsigned char out[32];
        crypto_generichash(out, sizeof out, reinterpret_cast<const unsigned char*>(secret.data()),
                           secret.size(), key, sizeof key);
        return std::string(reinterpret_cast<const char*>(out), sizeof out);
    }

    void Say(LogLevel level, const std::string& text) const {
        if (log)
            log(level, text);
    }

    void Trouble(const std::string& text) {
        if (text != problem)
            Say(LogLevel::Error, text);
        problem = text;
    }

    // Reads the file when a second has passed since the last look (or force); a change takes
    // hold at once. Returns false when the file could not be used (what was read before stays).
    bool Look(bool force, std::string* error = nullptr) {
        const auto now = std::chrono::steady_clock::now();
        if (!force && looked && now - lastLook < std::chrono::milliseconds(kLookMs))
            return true;
        looked = true;
        lastLook = now;
        std::string text, why, notice;
        bool found = false;
        AuthFile next;
        if (!ReadSecretFile(path, text, found, why, &notice) ||
            (found && !AuthFile::Parse(text, next, why) && (why = path + ": " + why, true))) {
            Trouble(why + "; the secrets read before stay in force");
            if (error != nullptr)
                *error = why;
            return false;
        }
        if (!notice.empty())
            Say(LogLevel::Warning, notice);
        problem.clear();
        if (generation == 0 || found != fileFound || text != fileText)
            Take(std::move(next), std::move(text), found);
        return true;
    }

    void Take(AuthFile next, std::string text, bool found) {
        const bool first = generation == 0;
        for (Role role : {Role::Operator, Role::Viewer}) {
            const auto hashOf = [role](const AuthFile& f) {
                return role == Role::Operator ? f.m_operatorHash : f.m_viewerHash;
            };
            if (first || hashOf(file) == hashOf(next))
                continue;
            size_t ended = 0;
            for (auto it = sessions.begin(); it != sessions.end();) {
                if (it->second.role == role) {
                    it = sessions.erase(it);
                    ++ended;
                } else {
                    ++it;
                }
            }
            Say(LogLevel::Info, std::string("auth file: the ") + RoleName(role) + " PIN " +
                                    (hashOf(next).empty() ? "was removed" : "changed") + "; " +
                                    std::to_string(ended) + " " + RoleName(role) +
                                    " session(s) ended");
        }
        for (auto it = tokens.begin(); it != tokens.end();) {
            const AuthFile::Token* t = next.FindTokenById(it->second.id);
            if (t == nullptr || t->hash != it->second.hash)
                it = tokens.erase(it);
            else
                ++it;
        }
        Say(LogLevel::Info,
            (found ? "auth file " + path + " read: " : "no auth file " + path + ": ") +
                "operator PIN " + (next.HasPin(Role::Operator) ? "set" : "not set") +
                ", viewer PIN " + (next.HasPin(Role::Viewer) ? "set" : "not set") + ", " +
                std::to_string(next.m_tokens.size()) + " API token(s)");
        sodium_memzero(fileText.data(), fileText.size());
        file = std::move(next);
        fileText = std::move(text);
        fileFound = found;
        ++generation;
    }

    // The record of an address; a quiet one is forgotten after a day. When the table is full the
    // longest quiet address that is not locked out goes (a flood of new addresses must not free
    // a locked one), or else the longest quiet.
    Address& AddressOf(const std::string& address, int64_t nowMs) {
        auto it = addresses.find(address);
        if (it != addresses.end() && it->second.lockedUntilMs <= nowMs &&
            nowMs - it->second.lastMs > kAddressMemoryMs)
            it->second = Address();
        if (it == addresses.end() && addresses.size() >= kMaxAddresses) {
            const auto rank = [nowMs](const Address& a) {
                return std::pair{a.lockedUntilMs > nowMs, a.lastMs};
            };
            auto first = addresses.begin();
            for (auto a = addresses.begin(); a != addresses.end(); ++a) {
                if (rank(a->second) < rank(first->second))
                    first = a;
            }
            addresses.erase(first);
        }
        Address& a = addresses[address];
        a.lastMs = std::max(a.lastMs, nowMs);
        return a;
    }

    // The seconds left of the lockout of the address (by its key), or 0. The first login refused
    // in a lockout is logged; the others would only flood the log.
    int LockedFor(const std::string& address, const std::string& key, int64_t nowMs) {
        const auto it = addresses.find(key);
        if (it == addresses.end() || it->second.lockedUntilMs <= nowMs)
            return 0;
        const int left = static_cast<int>((it->second.lockedUntilMs - nowMs + 999) / 1000);
        if (!it->second.refusalSaid) {
            Say(LogLevel::Warning, "login from " + address + " refused: locked out for " +
                                       std::to_string(left) +
                                       " s more (further refusals of this lockout not logged)");
            it->second.refusalSaid = true;
        }
        return left;
    }

    void Failed(const std::string& address, const std::string& key, int64_t nowMs) {
        Address& a = AddressOf(key, nowMs);
        while (!a.failures.empty() && nowMs - a.failures.front() >= kFailureWindowMs)
            a.failures.pop_front();
        a.failures.push_back(nowMs);
        Say(LogLevel::Warning, "login from " + address + ": wrong PIN (" +
                                   std::to_string(a.failures.size()) + " within a minute)");
        if (a.failures.size() < static_cast<size_t>(kFailuresToLock))
            return;
        const int64_t lockMs = std::min(kMaxLockMs, kFirstLockMs << std::min(a.locks, 12));
        a.failures.clear();
        ++a.locks;
        a.lockedUntilMs = nowMs + lockMs;
        a.refusalSaid = false;
        Say(LogLevel::Warning, "login from " + address + ": locked out for " +
                                   std::to_string(lockMs / 1000) + " s after " +
                                   std::to_string(kFailuresToLock) + " wrong PINs");
    }

    std::string NewSession(Role role, int64_t nowMs) {
        for (auto it = sessions.begin(); it != sessions.end();) {
            if (nowMs - it->second.lastMs > kSessionIdleMs)
                it = sessions.erase(it);
            else
                ++it;
        }
        if (sessions.size() >= kMaxSessions) {
            auto oldest = sessions.begin();
            for (auto s = sessions.begin(); s != sessions.end(); ++s) {
                if (s->second.lastMs < oldest->second.lastMs)
                    oldest = s;
            }
            sessions.erase(oldest);
        }
        const std::string id = RandomHex(kSessionIdBytes);
        sessions[Digest(id)] = {role, nowMs};
        return id;
    }
};

AuthGuard::AuthGuard(std::string path, Log log) : m_impl(std::make_unique<Impl>()) {
    m_impl->path = std::move(path);
    m_impl->log = std::move(log);
    if (SodiumReady())
        crypto_generichash_keygen(m_impl->key);
}

AuthGuard::~AuthGuard() {
    sodium_memzero(m_impl->key, sizeof m_impl->key);
    sodium_memzero(m_impl->fileText.data(), m_impl->fileText.size());
}

bool AuthGuard::Open(std::string& error) {
    if (!SodiumReady()) {
        error = "libsodium cannot start (no source of random numbers)";
        return false;
    }
    std::lock_guard<std::mutex> lock(m_impl->lock);
    return m_impl->Look(true, &error);
}

bool AuthGuard::HasPin(Role role) {
    std::lock_guard<std::mutex> lock(m_impl->lock);
    m_impl->Look(false);
    return m_impl->file.HasPin(role);
}

AuthGuard::Login AuthGuard::TryLogin(const std::string& address, const std::string& pin,
                                     int64_t nowMs) {
    Impl& d = *m_impl;
    const std::string key = AddressKey(address);
    Login login;
    std::string why;
    const bool wellFormed = AuthFile::CheckPinText(pin, why);
    for (;;) {
        AuthFile file;
        uint64_t generation = 0;
        {
            std::lock_guard<std::mutex> lock(d.lock);
            d.Look(false);
            if ((login.retryAfterS = d.LockedFor(address, key, nowMs)) > 0) {
                login.status = 429;
                return login;
            }
            file = d.file;
            generation = d.generation;
        }
        Role role = Role::None;
        if (wellFormed) {
            std::lock_guard<std::mutex> hashLock(d.hashLock);
            {
                // A lockout may have begun while this login waited for its turn.
                std::lock_guard<std::mutex> lock(d.lock);
                if ((login.retryAfterS = d.LockedFor(address, key, nowMs)) > 0) {
                    login.status = 429;
                    return login;
                }
            }
            role = file.CheckPin(pin);
        }
        std::lock_guard<std::mutex> lock(d.lock);
        if (generation != d.generation)
            continue;  // the file changed meanwhile: check against the new one
        if (role == Role::None) {
            d.Failed(address, key, nowMs);
            login.status = 401;
            return login;
        }
        d.addresses.erase(key);
        login.status = 200;
        login.role = role;
        login.sessionId = d.NewSession(role, nowMs);
        d.Say(LogLevel::Info, "login from " + address + " as " + RoleName(role));
        return login;
    }
}

void AuthGuard::Logout(const std::string& sessionId) {
    std::lock_guard<std::mutex> lock(m_impl->lock);
    m_impl->sessions.erase(m_impl->Digest(sessionId));
}

Role AuthGuard::Session(const std::string& sessionId, int64_t nowMs) {
    if (sessionId.size() != kSessionIdBytes * 2)
        return Role::None;
    std::lock_guard<std::mutex> lock(m_impl->lock);
    m_impl->Look(false);
    const auto it = m_impl->sessions.find(m_impl->Digest(sessionId));
    if (it == m_impl->sessions.end())
        return Role::None;
    if (nowMs - it->second.lastMs > kSessionIdleMs) {
        m_impl->sessions.erase(it);
        return Role::None;
    }
    it->second.lastMs = std::max(it->second.lastMs, nowMs);
    return it->second.role;
}

std::optional<Role> AuthGuard::BearerCached(const std::string& token) {
    const std::string id = TokenId(token);
    if (id.empty())
        return Role::None;
    std::lock_guard<std::mutex> lock(m_impl->lock);
    m_impl->Look(false);
    if (m_impl->tokens.count(m_impl->Digest(token)) != 0)
        return Role::Operator;
    if (m_impl->file.FindTokenById(id) == nullptr)
        return Role::None;
    return std::nullopt;
}

Role AuthGuard::Bearer(const std::string& token) {
    Impl& d = *m_impl;
    const std::string id = TokenId(token);
    if (id.empty())
        return Role::None;
    const std::string digest = d.Digest(token);
    for (;;) {
        std::string hash;
        uint64_t generation = 0;
        {
            std::lock_guard<std::mutex> lock(d.lock);
            d.Look(false);
            if (d.tokens.count(digest) != 0)
                return Role::Operator;
            const AuthFile::Token* entry = d.file.FindTokenById(id);
            if (entry == nullptr)
                return Role::None;
            hash = entry->hash;
            generation = d.generation;
        }
        bool good = false;
        {
            std::lock_guard<std::mutex> hashLock(d.hashLock);
            {
                // Another request with this token may have checked it while this one waited.
                std::lock_guard<std::mutex> lock(d.lock);
                if (d.tokens.count(digest) != 0 && generation == d.generation)
                    return Role::Operator;
            }
            good = Verify(hash, token);
        }
        std::lock_guard<std::mutex> lock(d.lock);
        if (generation != d.generation)
            continue;
        if (!good)
            return Role::None;
        d.tokens[digest] = {id, hash};
        return Role::Operator;
    }
}

void AuthGuard::Reload() {
    std::lock_guard<std::mutex> lock(m_impl->lock);
    m_impl->Look(true);
}

}  // namespace server
