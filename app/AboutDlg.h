// The About box (dialog 100): the program's name, version and date.
#pragma once

#include <QDialog>

#include "platform/UiSeam.h"

class CAboutDlg : public QDialog, public platform::ModalDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    int ExecModal() override { return exec(); }
    const char* DialogName() const override { return "CAboutDlg"; }
};
