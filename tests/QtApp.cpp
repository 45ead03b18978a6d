#include "QtApp.h"

#include <QApplication>

namespace testutil {

QApplication& TestApp() {
    static QApplication* app = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        static int argc = 1;
        static char name[] = "orn312_tests";
        static char* argv[] = {name, nullptr};
        // Never destroyed: widgets of static lifetime elsewhere must not outlive it.
        return new QApplication(argc, argv);
    }();
    return *app;
}

}  // namespace testutil
