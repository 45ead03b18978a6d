#include "tools/AuthCommands.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "server/Auth.h"

namespace authcmd {

const char kUsage[] =
    "  --auth FILE           the service's secrets: PIN hashes, API token hashes (mode 0600)\n"
    "  --set-pin operator|viewer\n"
    "                        reads a PIN of 4 to 12 digits from standard input (one line) and\n"
    "                        keeps its hash in FILE, then ends\n"
    "  --new-token NAME      makes an API token, keeps its hash in FILE and prints the token,\n"
    "                        alone, on standard output (the only time it is shown), then ends\n"
    "  --revoke-token NAME   removes the API token NAME from FILE, then ends\n"
    "  --list-tokens         prints the names of the API tokens in FILE, one a line, then ends\n"
    "  --set-mqtt-password   reads the password of --mqtt-user from standard input (one line)\n"
    "                        and keeps it in FILE (in clear: it is given to the broker), then\n"
    "                        ends\n"
    "                        (a running service follows changes of FILE within 3 s)\n";

namespace {

void Say(const std::string& text) {
    std::fprintf(stderr, "orn312-scheduler: %s\n", text.c_str());
}

constexpr size_t kMaxSecretLine = 1024;

// One line of standard input, without its line end; with a prompt and no echo on a terminal.
// False when nothing came.
bool ReadSecretLine(const std::string& prompt, std::string& line) {
    termios saved{};
    const bool terminal = ::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        std::fprintf(stderr, "%s", prompt.c_str());
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    line.clear();
    bool any = false;
    for (int c; (c = std::fgetc(stdin)) != EOF;) {
        any = true;
        if (c == '\n')
            break;
        if (line.size() < kMaxSecretLine)  // a longer line is refused
            line.push_back(static_cast<char>(c));
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputc('\n', stderr);
    }
    return any;
}

// Holds the folder of the file locked while a command reads and writes it, so that two commands
// at once do not lose one's change (the file itself is replaced, so its folder is locked).
class FolderLock {
public:
    explicit FolderLock(const std::string& file) {
        const size_t slash = file.rfind('/');
        const std::string folder = slash == std::string::npos ? "."
                                   : slash == 0               ? "/"
                                                              : file.substr(0, slash);
        m_fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (m_fd >= 0)
            ::flock(m_fd, LOCK_EX);
    }
    ~FolderLock() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int m_fd = -1;
};

bool Save(const server::AuthFile& file, const std::string& path) {
    std::string error, notice;
    const bool saved = file.Save(path, error, &notice);
    if (!notice.empty())
        Say(notice);
    if (!saved)
        Say(error);
    return saved;
}

}  // namespace

bool TakeOption(int argc, char** argv, int& i, std::string& authFile, Command& command,
                std::string& error) {
    const std::string a = argv[i];
    Command::Kind kind = Command::None;
    if (a == "--set-pin")
        kind = Command::SetPin;
    else if (a == "--new-token")
        kind = Command::NewToken;
    else if (a == "--revoke-token")
        kind = Command::RevokeToken;
    else if (a == "--list-tokens")
        kind = Command::ListTokens;
    else if (a == "--set-mqtt-password")
        kind = Command::SetMqttPassword;
    else if (a != "--auth")
        return false;
    const bool takesValue = kind != Command::ListTokens && kind != Command::SetMqttPassword;
    if (takesValue && i + 1 >= argc) {
        error = a + " takes a value (see --help)";
        return true;
    }
    const std::string value = takesValue ? argv[++i] : "";
    if (kind == Command::None) {
        authFile = value;
        return true;
    }
    if (command.kind != Command::None) {
        error =
            "one of --set-pin, --new-token, --revoke-token, --list-tokens and "
            "--set-mqtt-password at a time";
        return true;
    }
    server::Role role;
    if (kind == Command::SetPin && !server::ParseRole(value, role)) {
        error = "--set-pin takes operator or viewer";
        return true;
    }
    command = {kind, value, a};
    return true;
}

int Run(const std::string& path, const Command& command) {
    FolderLock lock(path);
    server::AuthFile file;
    std::string error, notice;
    const bool loaded = server::AuthFile::Load(path, file, error, &notice);
    if (!notice.empty())
        Say(notice);
    if (!loaded) {
        Say(error);
        return 1;
    }
    switch (command.kind) {
        case Command::SetPin: {
            server::Role role = server::Role::None;
            server::ParseRole(command.value, role);
            std::string pin;
            if (!ReadSecretLine("PIN for the " + command.value + ": ", pin)) {
                Say("no PIN on standard input");
                return 2;
            }
            const bool set = file.SetPin(role, pin, error);
            sodium_memzero(pin.data(), pin.size());
            if (!set) {
                Say(error);
                return 2;
            }
            if (!Save(file, path))
                return 1;
            Say("the " + command.value + " PIN is set in " + path);
            return 0;
        }
        case Command::NewToken: {
            std::string token;
            if (!file.NewToken(command.value, token, error)) {
                Say(error);
                return 2;
            }
            if (!Save(file, path))
                return 1;
            std::printf("%s\n", token.c_str());
            sodium_memzero(token.data(), token.size());
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        case Command::RevokeToken:
            if (!file.RevokeToken(command.value)) {
                Say("no token named " + command.value + " in " + path);
                return 1;
            }
            return Save(file, path) ? 0 : 1;
        case Command::SetMqttPassword: {
            std::string password;
            if (!ReadSecretLine("MQTT password: ", password) || password.empty()) {
                Say("no MQTT password on standard input");
                return 2;
            }
            if (password.size() >= kMaxSecretLine) {
                sodium_memzero(password.data(), password.size());
                Say("the MQTT password is longer than " + std::to_string(kMaxSecretLine - 1) +
                    " characters");
                return 2;
            }
            file.SetMqttPassword(password);
            sodium_memzero(password.data(), password.size());
            if (!Save(file, path))
                return 1;
            Say("the MQTT password is set in " + path);
            return 0;
        }
        case Command::ListTokens:
            for (const std::string& name : file.TokenNames())
                std::printf("%s\n", name.c_str());
            return std::fflush(stdout) == 0 ? 0 : 1;
        case Command::None:
            break;
    }
    return 0;
}

}  // namespace authcmd
