// The one way the program shows message boxes and runs modal dialogs. The window layer installs
// the real one at start; tests install their own to answer boxes, read their text, caption and
// language identifier, and drive modal dialogs without a person.
#pragma once

#include <string>

namespace platform {

// Language identifiers of message boxes: the buttons are labelled in that language.
constexpr int kLangEnglish = 1033;
constexpr int kLangChinese = 2052;

// A dialog that can run modally (implemented by the window classes).
class ModalDialog {
public:
    virtual ~ModalDialog() = default;
    // Runs the dialog's own modal loop; returns its result.
    virtual int ExecModal() = 0;
    // The dialog's class name ("CSetScreen", "CProgress", ...), for tests.
    virtual const char* DialogName() const = 0;
};

class UiSeam {
public:
    virtual ~UiSeam() = default;
    // A box with Yes and No buttons; true when the answer is Yes. UI thread only.
    virtual bool MessageBox(const std::string& text, const std::string& caption,
                            int languageId) = 0;
    // Runs dialog modally; returns its result. UI thread only.
    virtual int RunModal(ModalDialog& dialog) = 0;
    // The file chooser: a file to write (save) or to read, starting at suggested; filter as
    // "Wall files (*.wall);;All files (*)". Empty when the operator cancelled. UI thread only.
    virtual std::string ChooseFile(bool save, const std::string& title, const std::string& filter,
                                   const std::string& suggested) {
        (void)save, (void)title, (void)filter, (void)suggested;
        return "";
    }
};

// The seam in use. Without an installed one, boxes are written to standard error and answered
// No, and dialogs run their own loop.
UiSeam& Ui();
// Installs seam (nullptr restores the default).
void SetUi(UiSeam* seam);

inline bool AskYesNo(const std::string& text, const std::string& caption, int languageId) {
    return Ui().MessageBox(text, caption, languageId);
}
inline int RunModal(ModalDialog& dialog) {
    return Ui().RunModal(dialog);
}
inline std::string ChooseFile(bool save, const std::string& title, const std::string& filter,
                              const std::string& suggested = "") {
    return Ui().ChooseFile(save, title, filter, suggested);
}

}  // namespace platform
