// A message-box and modal-dialog seam for window tests: records every box and dialog, answers
// boxes with a set answer, and runs or skips modal dialogs as the test says.
#pragma once

#include <QCoreApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/UiSeam.h"

namespace testutil {

class FakeUi : public platform::UiSeam {
public:
    struct Box {
        std::string text, caption;
        int languageId;
    };

    FakeUi() { platform::SetUi(this); }
    ~FakeUi() override { platform::SetUi(nullptr); }

    bool MessageBox(const std::string& text, const std::string& caption, int lang) override {
        boxes.push_back({text, caption, lang});
        if (whileBoxOpen) {
            whileBoxOpen();
        }
        return answer;
    }

    // Dialogs named in run are run for real (their own loop; a watchdog closes one that hangs
    // and counts it in hung); the others are only recorded.
    int RunModal(platform::ModalDialog& dialog) override {
        dialogs.push_back(dialog.DialogName());
        if (answerDialog) {
            if (const std::optional<int> answer = answerDialog(dialog)) {
                return *answer;
            }
        }
        if (run.count(dialog.DialogName()) == 0) {
            return 0;
        }
        auto* qd = dynamic_cast<QDialog*>(&dialog);
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [&] {
            ++hung;
            std::fprintf(stderr, "the watchdog closed %s\n", dialog.DialogName());
            if (qd)
                qd->done(-1);
        });
        watchdog.start(watchdogMs);
        return dialog.ExecModal();
    }

    // The file chooser answers with chosenFile (empty: cancelled) and records the title.
    std::string ChooseFile(bool save, const std::string& title, const std::string&,
                           const std::string&) override {
        fileDialogs.push_back(std::string(save ? "save: " : "open: ") + title);
        return chosenFile;
    }
    std::string chosenFile;
    std::vector<std::string> fileDialogs;

    // Answers a dialog in place of running it (a test that looks at it, ticks its boxes and
    // gives its result); nothing lets it go on as above.
    std::function<std::optional<int>(platform::ModalDialog&)> answerDialog;

    bool answer = true;
    // Runs while a box is open, before it is answered (an operator who takes a moment).
    std::function<void()> whileBoxOpen;
    std::set<std::string> run = {"CProgress"};
    int watchdogMs = 15000;
    int hung = 0;
    std::vector<Box> boxes;
    std::vector<std::string> dialogs;
};

// Lets queued changes from the workers reach the widgets.
inline void ProcessEvents(int ms = 50) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, ms);
}

// Runs the event loop until pred holds; false when ms pass first.
template <typename P>
bool WaitUntil(P pred, int ms = 8000) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > ms)
            return false;
        ProcessEvents(20);
    }
    return true;
}

}  // namespace testutil
