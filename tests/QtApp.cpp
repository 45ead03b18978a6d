#include "QtApp.h"

#include <QApplication>
#include <QScreen>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace testutil {

QApplication& TestApp() {
    static QApplication* app = [] {
        const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
        std::string path;
        if (platform.isEmpty() || platform == "offscreen") {
            // Two virtual screens: a large primary one, where windows have the sizes their
            // layouts give them, and a laptop's 1366 × 768 to its right (LaptopScreen()).
            path =
                "/tmp/orn312_tests_screens." + std::to_string(getpid()) + ".json";
            if (FILE* f = std::fopen(path.c_str(), "w")) {
                std::fputs("{\"screens\": ["
                           "{\"name\": \"large\", \"x\": 0, \"y\": 0, \"width\": 1920,"
                           " \"height\": 1200, \"logicalDpi\": 96},"
                           "{\"name\": \"laptop\", \"x\": 1920, \"y\": 0, \"width\": 1366,"
                           " \"height\": 768, \"logicalDpi\": 96}]}",
                           f);
                std::fclose(f);
                qputenv("QT_QPA_PLATFORM", QByteArray("offscreen:configfile=") + path.c_str());
            } else {
                qputenv("QT_QPA_PLATFORM", "offscreen");
            }
        }
        static int argc = 1;
        static char name[] = "orn312_tests";
        static char* argv[] = {name, nullptr};
        // Never destroyed: widgets of static lifetime elsewhere must not outlive it.
        auto* made = new QApplication(argc, argv);
        if (!path.empty()) {
            std::remove(path.c_str());  // read when the platform started
        }
        return made;
    }();
    return *app;
}

QScreen* LaptopScreen() {
    TestApp();
    for (QScreen* s : QGuiApplication::screens()) {
        if (s->name() == QLatin1String("laptop")) {
            return s;
        }
    }
    return nullptr;
}

}  // namespace testutil
