// The Program window (dialog 138) with the four plan pages. For now its title and its Exit
// button.
#pragma once

#include <QDialog>

#include "controls/ControlRegistry.h"
#include "platform/UiSeam.h"

class CProgram : public QDialog, public platform::ModalDialog {
    Q_OBJECT

public:
    // chinese: the main window's language flag when the dialog opens.
    CProgram(QWidget* parent, bool chinese);

    QWidget* Control(int id) const { return ui::FindControl(m_controls, id); }
    int ExecModal() override { return exec(); }
    const char* DialogName() const override { return "CProgram"; }

private:
    ui::ControlMap m_controls;
};
