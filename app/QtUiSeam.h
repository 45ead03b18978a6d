// The seam as the program uses it: real message boxes and modal dialogs.
#pragma once

#include "platform/UiSeam.h"

class QtUiSeam : public platform::UiSeam {
public:
    // A box with the caption, the text and Yes/No buttons labelled in the language of
    // languageId (2052 Chinese, otherwise English); true on Yes.
    bool MessageBox(const std::string& text, const std::string& caption, int languageId) override;
    int RunModal(platform::ModalDialog& dialog) override { return dialog.ExecModal(); }
    // The desktop's file dialog, over the active window.
    std::string ChooseFile(bool save, const std::string& title, const std::string& filter,
                           const std::string& suggested) override;
};
