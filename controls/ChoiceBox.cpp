#include "controls/ChoiceBox.h"

#include <sys/stat.h>
#include <QPushButton>

#include "platform/TextFile.h"

namespace ui {

CChoiceBox::CChoiceBox(QWidget* parent, const std::string& caption, const std::string& text,
                       const std::vector<std::string>& buttons, int escape)
    : QMessageBox(parent), m_escape(escape) {
    setWindowTitle(QString::fromStdString(caption));
    setText(QString::fromStdString(text));
    setAccessibleName(windowTitle());
    for (const std::string& b : buttons) {
        QPushButton* button = addButton(QString::fromStdString(b), QMessageBox::ActionRole);
        button->setAccessibleName(button->text());
        m_buttons.push_back(button);
    }
    if (!m_buttons.empty()) {
        setDefaultButton(m_buttons.front());
    }
    if (escape >= 0 && escape < static_cast<int>(m_buttons.size())) {
        setEscapeButton(m_buttons[static_cast<size_t>(escape)]);
    }
}

int CChoiceBox::ExecModal() {
    exec();
    for (size_t k = 0; k < m_buttons.size(); ++k) {
        if (clickedButton() == m_buttons[k]) {
            return static_cast<int>(k);
        }
    }
    return m_escape;
}

int Choose(QWidget* parent, const std::string& caption, const std::string& text,
           const std::vector<std::string>& buttons, int escape) {
    CChoiceBox box(parent, caption, text, buttons, escape);
    return platform::RunModal(box);
}

std::string ChooseFileToSave(const std::string& title, const std::string& filter,
                             const std::string& extension, const std::string& question,
                             const std::string& caption, int languageId) {
    const std::string chosen = platform::ChooseFile(true, title, filter);
    if (chosen.empty()) {
        return "";
    }
    const std::string path = platform::WithExtension(chosen, extension);
    struct stat st {};
    if (path != chosen && ::lstat(path.c_str(), &st) == 0 &&
        !platform::AskYesNo(question + path, caption, languageId)) {
        return "";
    }
    return path;
}

}  // namespace ui
