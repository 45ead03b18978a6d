// A message box with buttons of the caller's (more than Yes and No), run through the platform's
// seam so that tests can answer it.
#pragma once

#include <QMessageBox>
#include <string>
#include <vector>

#include "platform/UiSeam.h"

namespace ui {

class CChoiceBox : public QMessageBox, public platform::ModalDialog {
    Q_OBJECT

public:
    // Escape and the close box answer as button escape does.
    CChoiceBox(QWidget* parent, const std::string& caption, const std::string& text,
               const std::vector<std::string>& buttons, int escape);

    // The index of the button pressed.
    int ExecModal() override;
    const char* DialogName() const override { return "CChoiceBox"; }

private:
    std::vector<QPushButton*> m_buttons;
    int m_escape;
};

// Shows the box through the seam; the index of the button pressed (escape when closed).
int Choose(QWidget* parent, const std::string& caption, const std::string& text,
           const std::vector<std::string>& buttons, int escape);

// The file chooser for a file to write, through the seam: a name typed without an extension gets
// extension (".settings"), so that the load dialog's filter shows the file; when that names a
// file that exists (which the chooser did not ask about), question (followed by the file) asks
// whether to replace it. Empty when the operator cancelled or said No.
std::string ChooseFileToSave(const std::string& title, const std::string& filter,
                             const std::string& extension, const std::string& question,
                             const std::string& caption, int languageId);

}  // namespace ui
