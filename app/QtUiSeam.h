// The seam as the program uses it: real message boxes and modal dialogs.
#pragma once

#include "platform/UiSeam.h"

class QtUiSeam : public platform::UiSeam {
public:
    // A box with the caption, the text and Yes/No buttons labelled in the language of
    // languageId (2052 Chinese, otherwise English); true on Yes.
    bool MessageBox(const std::string& text, const std::string& caption, int languageId) override;
    int RunModal(platform::ModalDialog& dialog) override { return dialog.ExecModal(); }
    // Qt's own file dialog, over the active window, in the language Qt speaks (ShowQtTextsIn).
    std::string ChooseFile(bool save, const std::string& title, const std::string& filter,
                           const std::string& suggested) override;
};

// Qt's own texts (the file dialog's buttons, columns and labels, its context menu) in the
// language the window shows: Qt's Chinese translation from its translations folder is loaded for
// Chinese and removed for English. False when Chinese was asked for and no translation could be
// loaded (Debian's Qt translations are not installed): Qt's texts then stay English.
bool ShowQtTextsIn(bool chinese);
