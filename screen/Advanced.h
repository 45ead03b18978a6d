// The output resolution dialog (dialog 155). For now its title and its OK button.
#pragma once

#include <QDialog>

#include "controls/ControlRegistry.h"
#include "platform/UiSeam.h"

class CCAdvanced : public QDialog, public platform::ModalDialog {
    Q_OBJECT

public:
    // chinese: the main window's language flag when the dialog opens.
    CCAdvanced(QWidget* parent, bool chinese);

    QWidget* Control(int id) const { return ui::FindControl(m_controls, id); }
    int ExecModal() override { return exec(); }
    const char* DialogName() const override { return "CCAdvanced"; }

private:
    ui::ControlMap m_controls;
};
