// orn312-scheduler: runs the plans of a plan file without a window, for installations that
// switch sources by the clock with nobody logged in. One line per event on standard error.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <memory>
#include <optional>
#include <vector>

#include "link/Trace.h"
#include "schedule/SchedulerService.h"
#include "server/Auth.h"
#include "server/DeviceApi.h"
#include "server/HttpServer.h"
#include "server/MqttBridge.h"
#include "server/SharedLine.h"
#include "tools/AuthCommands.h"

namespace {

const char kUsage[] =
    "usage: orn312-scheduler [-v | --trace] [--share ADDR:PORT [--share-allow CIDR]...]\n"
    "                        [--http ADDR:PORT --auth FILE [--tls-cert FILE --tls-key FILE]]\n"
    "                        [--mqtt mqtt[s]://HOST:PORT [--mqtt-base BASE]\n"
    "                         [--mqtt-user NAME --auth FILE] [--mqtt-ca FILE]\n"
    "                         [--mqtt-discovery PREFIX] [--mqtt-keepalive SECONDS]] [PLANFILE]\n"
    "       orn312-scheduler --auth FILE --set-pin operator|viewer | --new-token NAME |\n"
    "                        --revoke-token NAME | --list-tokens\n"
    "       orn312-scheduler --help | --version\n"
    "Runs the day, week, month and one-time plans of PLANFILE (default ./Planinfo.ini) on the\n"
    "processor named by its [CONNECT] section, until SIGTERM or SIGINT; SIGHUP reads the plan\n"
    "file and its [CONNECT] keys again. Logs one line per switch, missed plan, connection change\n"
    "and plan file change on standard error: time-stamped on a terminal or in a file, with the\n"
    "journal's priority prefix under systemd.\n"
    "options:\n"
    "  --share ADDR:PORT     share the processor's line: the window, orn312ctl and control\n"
    "                        systems connect to ADDR:PORT over TCP and speak the processor's\n"
    "                        protocol through the service (off by default; 127.0.0.1:5001)\n"
    "  --share-allow CIDR    a client address or network that may connect besides loopback\n"
    "                        (192.168.0.0/24); repeatable; needed for an ADDR other than loopback\n"
    "  --http ADDR:PORT      serve the control page and the HTTP API (JSON, events) on ADDR:PORT\n"
    "                        (off by default; 127.0.0.1:8080); needs --auth; an ADDR other than\n"
    "                        loopback needs an operator PIN\n"
    "  --auth FILE           the PINs and API tokens of --http, the password of --mqtt-user\n"
    "                        (see below)\n"
    "  --tls-cert FILE, --tls-key FILE\n"
    "                        serve HTTPS with this certificate (chain) and key, PEM\n"
    "  --http-header-ms MS   drop a connection whose request headers are not all in MS ms after\n"
    "                        it began (10000)\n"
    "  --mqtt mqtt://HOST:PORT | mqtts://HOST:PORT\n"
    "                        publish the state and events on an MQTT broker and take commands\n"
    "                        from it (off by default; MQTT 5; mqtts: TLS)\n"
    "  --mqtt-base BASE      the topics' base and the client id (orn312/<hostname>)\n"
    "  --mqtt-user NAME      the broker's user; its password is kept in the auth file\n"
    "                        (--auth FILE --set-mqtt-password)\n"
    "  --mqtt-ca FILE        mqtts: the CA of the broker's certificate (default: the system's)\n"
    "  --mqtt-discovery PREFIX\n"
    "                        also publish discovery records for dashboards under PREFIX\n"
    "                        (homeassistant); off by default\n"
    "  --mqtt-keepalive SECONDS\n"
    "                        the broker says offline this long x 1.5 after a crash (30)\n"
    "  -v, --trace           the time-stamped trace of every serial frame, on standard output\n"
    "  -h, --help            this text\n"
    "  --version             the version\n"
    "the service's secrets (each command runs on FILE and ends):\n";

// Under systemd, standard error is the journal's stream (JOURNAL_STREAM names its device and
// inode): the journal stamps each line itself and takes a "<N>" prefix as the line's priority.
bool ErrorGoesToJournal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    if (stream == nullptr)
        return false;
    struct stat err {};
    if (::fstat(STDERR_FILENO, &err) != 0)
        return false;
    unsigned long long device = 0, inode = 0;
    return std::sscanf(stream, "%llu:%llu", &device, &inode) == 2 &&
           device == static_cast<unsigned long long>(err.st_dev) &&
           inode == static_cast<unsigned long long>(err.st_ino);
}

const bool g_journal = ErrorGoesToJournal();

// One line on standard error in one write, so that lines of two threads never mix.
void WriteLine(LogLevel level, const std::string& text) {
    const std::string line = g_journal ? "<" + std::to_string(static_cast<int>(level)) + ">" + text
                                       : StampedLine(platform::CurrentClock().NowMs(), text);
    const std::string out = line + "\n";
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::write(STDERR_FILENO, out.data() + done, out.size() - done);
        if (n <= 0)
            return;  // nobody reads standard error any more: carry on regardless
        done += static_cast<size_t>(n);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string planFile = "./Planinfo.ini";
    bool planFileGiven = false;
    bool share = false;
    server::ShareSettings shareSettings;
    std::string authFile;
    authcmd::Command authCommand;
    server::MqttSettings mqtt;
    bool http = false;
    server::HttpSettings httpSettings;
    const auto usageError = [](const std::string& text) {
        std::fprintf(stderr, "orn312-scheduler: %s\n", text.c_str());
        return 2;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--share" || a == "--share-allow") {
            if (i + 1 >= argc)
                return usageError(a + " takes a value (see --help)");
            const std::string value = argv[++i];
            std::string error;
            if (a == "--share") {
                share = true;
                if (!server::ParseShareAddress(value, shareSettings.host, shareSettings.port,
                                               error))
                    return usageError(error);
            } else {
                if (!server::CheckCidr(value, error))
                    return usageError(error);
                shareSettings.allow.push_back(value);
            }
            continue;
        }
        std::string mqttError;
        const int mqttTaken = server::TakeMqttOption(argc, argv, i, mqtt, mqttError);
        if (mqttTaken < 0)
            return usageError(mqttError);
        if (mqttTaken > 0) {
            i += mqttTaken - 1;
            continue;
        }
        if (a == "--http" || a == "--tls-cert" || a == "--tls-key" || a == "--http-header-ms") {
            if (i + 1 >= argc)
                return usageError(a + " takes a value (see --help)");
            const std::string value = argv[++i];
            std::string error;
            if (a == "--http") {
                http = true;
                if (!server::ParseHttpAddress(value, httpSettings, error))
                    return usageError(error);
            } else if (a == "--tls-cert") {
                httpSettings.certFile = value;
            } else if (a == "--tls-key") {
                httpSettings.keyFile = value;
            } else {
                char* end = nullptr;
                const long ms = std::strtol(value.c_str(), &end, 10);
                if (value.empty() || *end != '\0' || ms < 100 || ms > 600000)
                    return usageError("--http-header-ms " + value + ": give 100..600000");
                httpSettings.headerTimeoutMs = static_cast<int>(ms);
            }
            continue;
        }
        std::string authError;
        if (authcmd::TakeOption(argc, argv, i, authFile, authCommand, authError)) {
            if (!authError.empty())
                return usageError(authError);
            continue;
        }
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            std::fputs(authcmd::kUsage, stdout);
            return 0;
        }
        if (a == "--version") {
            std::printf("orn312-scheduler %s\n", ORN312_VERSION);
            return 0;
        }
        if (a == "-v" || a == "--trace") {
            devlink::SetFrameTrace(true);
            continue;
        }
        if ((a.size() > 1 && a[0] == '-') || planFileGiven) {
            return usageError("unexpected argument " + a + " (see --help)");
        }
        planFile = a;
        planFileGiven = true;
    }
    if (authCommand.kind != authcmd::Command::None) {
        if (authFile.empty())
            return usageError(authCommand.option + " needs --auth FILE");
        return authcmd::Run(authFile, authCommand);
    }
    if (!share && !shareSettings.allow.empty())
        return usageError("--share-allow needs --share");
    {
        std::string error;
        if (!server::CheckMqttSettings(mqtt, error))
            return usageError(error);
        if (!mqtt.user.empty() && authFile.empty())
            return usageError("--mqtt-user needs --auth FILE, which keeps its password");
    }
    // The broker's password, from the auth file at each connection attempt: a new one set with
    // --set-mqtt-password holds from the next.
    const auto mqttPassword = [authFile] {
        server::AuthFile file;
        std::string error;
        return server::AuthFile::Load(authFile, file, error) ? file.MqttPassword().value_or("")
                                                             : std::string();
    };
    if (!mqtt.user.empty()) {
        server::AuthFile file;
        std::string error;
        if (!server::AuthFile::Load(authFile, file, error)) {
            WriteLine(LogLevel::Error, error);
            return 1;
        }
        if (!file.MqttPassword())
            return usageError("the auth file " + authFile +
                              " has no MQTT password (--set-mqtt-password)");
    }
    if (!http && (!httpSettings.certFile.empty() || !httpSettings.keyFile.empty()))
        return usageError("--tls-cert and --tls-key need --http");
    if (httpSettings.certFile.empty() != httpSettings.keyFile.empty())
        return usageError("--tls-cert and --tls-key go together");
    if (http && authFile.empty())
        return usageError("--http needs --auth FILE (the PINs and API tokens)");
    if (share) {
        std::string error;
        if (!server::CheckShareSettings(shareSettings, error))
            return usageError(error);
    }

    ServiceSettings settings;
    std::string error;
    if (!ReadServiceSettings(planFile, settings, error)) {
        WriteLine(LogLevel::Error, error);
        return 1;
    }

    // The signals are taken by this thread alone, in sigwait; every other thread has them
    // blocked from its start. SIGHUP reads the plan file again, as services do; it never ends
    // the program. A reader of standard error that went away must not end the program either.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<server::AuthGuard> guard;
    if (http) {
        // Beyond loopback nobody may change anything without the operator's PIN.
        server::AuthFile secrets;
        if (!server::IsLoopbackHost(httpSettings.host) &&
            server::AuthFile::Load(authFile, secrets, error) &&
            !secrets.HasPin(server::Role::Operator)) {
            std::fprintf(stderr,
                         "orn312-scheduler: --http %s is not loopback: set an operator PIN first "
                         "(--auth %s --set-pin operator)\n",
                         httpSettings.host.c_str(), authFile.c_str());
            return 2;
        }
        guard = std::make_unique<server::AuthGuard>(authFile, WriteLine);
        if (!guard->Open(error)) {
            WriteLine(LogLevel::Error, error);
            return 1;
        }
    }

    SchedulerService service(planFile, settings, WriteLine);
    // The queue and the model serve the API too; the TCP server only with --share.
    std::unique_ptr<server::SharedLine> shared;
    std::unique_ptr<server::DeviceApi> api;
    std::unique_ptr<server::HttpServer> httpServer;
    std::unique_ptr<server::MqttBridge> bridge;
    if (share || http || !mqtt.url.empty()) {
        shared = std::make_unique<server::SharedLine>(
            service, share ? std::optional<server::ShareSettings>(shareSettings) : std::nullopt,
            WriteLine);
        if (!shared->Open(error)) {
            WriteLine(LogLevel::Error, error);
            return 1;
        }
        service.ShareLine(shared.get());
    }
    if (http || !mqtt.url.empty()) {
        api = std::make_unique<server::DeviceApi>(service, *shared, WriteLine);
    }
    if (http) {
        httpServer = std::make_unique<server::HttpServer>(*api, *guard, httpSettings, WriteLine);
        if (!httpServer->Open(error)) {
            WriteLine(LogLevel::Error, error);
            return 1;
        }
    }
    if (!mqtt.url.empty()) {
        bridge = std::make_unique<server::MqttBridge>(server::MqttDeviceOf(*api), mqtt,
                                                      mqttPassword, WriteLine);
    }
    service.Start();
    if (shared)
        shared->Start();
    if (api)
        api->Start();
    if (httpServer)
        httpServer->Start();
    if (bridge)
        bridge->Start();
    int signalNumber = 0;
    for (;;) {
        if (sigwait(&signals, &signalNumber) != 0)
            continue;
        if (signalNumber != SIGHUP)
            break;
        service.Reload();
    }
    WriteLine(LogLevel::Info,
              std::string(signalNumber == SIGTERM ? "SIGTERM" : "SIGINT") + ": stopping");
    // The broker hears "offline" and the HTTP side ends first; then the API answers what still
    // waits; then the shared line: plans waiting for it give up, clients are closed.
    if (bridge)
        bridge->Stop();
    if (httpServer)
        httpServer->Stop();
    if (api)
        api->Stop();
    if (shared)
        shared->Stop();
    service.Stop();
    devlink::FlushDiscarded();
    return 0;
}
