#include "app/AboutDlg.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "controls/ControlRegistry.h"
#include "controls/Keyboard.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8("关于 ORN312Control"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(32, 20, 32, 16);
    column->setSpacing(10);
    for (const char* text : {"ORN312  V1.13", "2016-08-04"}) {
        auto* line = new QLabel(QString::fromUtf8(text));
        line->setAlignment(Qt::AlignCenter);
        column->addWidget(line);
    }
    auto* ok = new QPushButton(QStringLiteral("OK"));
    ui::TagControl(ok, 1);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    ui::ApplyKeyboardConventions(this);
    column->addWidget(ok, 0, Qt::AlignHCenter);
    setFixedSize(sizeHint().expandedTo(QSize(260, 0)));
}
