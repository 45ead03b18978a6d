// The screen settings dialog (dialog 129): window geometry, PIP layout, picture, audio and
// modes. For now its title and its Exit button.
#pragma once

#include <QDialog>

#include "controls/ControlRegistry.h"
#include "platform/UiSeam.h"

class CSetScreen : public QDialog, public platform::ModalDialog {
    Q_OBJECT

public:
    // chinese: the main window's language flag when the dialog opens.
    CSetScreen(QWidget* parent, bool chinese);

    QWidget* Control(int id) const { return ui::FindControl(m_controls, id); }
    int ExecModal() override { return exec(); }
    const char* DialogName() const override { return "CSetScreen"; }

private:
    ui::ControlMap m_controls;
};
