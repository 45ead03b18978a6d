// orn312-control: the controller window. --help and --version answer without a display; without
// one the window says so in one line and ends with status 2.
#include <unistd.h>

#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/App.h"
#include "link/Trace.h"

namespace {

const char kUsage[] =
    "usage: orn312-control [-v | --trace] [Qt options]\n"
    "       orn312-control --help | --version\n"
    "The controller window of the ORN312 LED video processor. Its connection settings and plans\n"
    "live in Planinfo.ini of the folder it is started in. It needs a display (X11 or Wayland);\n"
    "without one it says so and exits with status 2. See orn312-control(1).\n"
    "  -v, --trace   the time-stamped trace of every serial frame, on standard output\n";

QtMessageHandler g_qtHandler = nullptr;

bool Empty(const char* value) {
    return value == nullptr || *value == '\0';
}

// Why the window cannot open, told when Qt could not start its platform.
std::string NoWindowLine() {
    const char* display = std::getenv("DISPLAY");
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    std::string why;
    if (!Empty(platform))
        why = std::string("Qt's platform \"") + platform + "\" could not be started";
    else if (!Empty(display))
        why = std::string("display ") + display + " cannot be reached (or Qt's xcb plugin failed)";
    else
        why = "the Wayland display cannot be reached (or Qt's wayland plugin failed)";
    return "orn312-control: cannot open the window: " + why + "\n";
}

// Qt ends the program with a fatal message (and abort) when its platform plugin cannot start,
// after warnings about the display and the plugin. They become one line and status 2; every
// other message goes to Qt's own handler.
void QtMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const char* category = context.category != nullptr ? context.category : "";
    const bool platformTrouble = std::strncmp(category, "qt.qpa", 6) == 0 ||
                                 message.contains(QLatin1String("platform plugin"));
    if (type == QtFatalMsg && platformTrouble) {
        const std::string line = NoWindowLine();
        if (::write(STDERR_FILENO, line.data(), line.size()) < 0) {
            // nothing more to say
        }
        ::_exit(2);
    }
    if (platformTrouble && (message.contains(QLatin1String("could not connect to display")) ||
                            message.contains(QLatin1String("the Qt platform plugin"))))
        return;  // the fatal message that follows says it in one line
    g_qtHandler(type, context, message);
}

// True when Qt is told where to draw: a platform named (QT_QPA_PLATFORM, -platform) or a display.
bool HasDisplay(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return true;
    }
    return !Empty(std::getenv("QT_QPA_PLATFORM")) || !Empty(std::getenv("DISPLAY")) ||
           !Empty(std::getenv("WAYLAND_DISPLAY"));
}

}  // namespace

int main(int argc, char** argv) {
    // The trace options are taken out before Qt sees the arguments.
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-v" || a == "--trace") {
            devlink::SetFrameTrace(true);
            continue;
        }
        argv[kept++] = argv[i];
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == "--version") {
            std::printf("orn312-control %s\n", ORN312_VERSION);
            return 0;
        }
    }
    argc = kept;
    argv[argc] = nullptr;
    if (!HasDisplay(argc, argv)) {
        std::fputs(
            "orn312-control: cannot open the window: no display (DISPLAY is not set); start it "
            "in a desktop session\n",
            stderr);
        return 2;
    }
    g_qtHandler = qInstallMessageHandler(QtMessages);
    CORN302ControlApp app;
    return app.InitInstance(argc, argv);
}
