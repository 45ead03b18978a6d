#include "app/AboutDlg.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "controls/ControlRegistry.h"
#include "controls/Keyboard.h"
#include "resources/Captions.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(res::kAboutTitle));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(32, 20, 32, 16);
    column->setSpacing(10);
    for (const char* text : res::kAboutLines) {
        auto* line = new QLabel(QString::fromUtf8(text));
        line->setAlignment(Qt::AlignCenter);
        column->addWidget(line);
    }
    auto* ok = new QPushButton(QString::fromUtf8(res::kOkCaption));
    ui::TagControl(ok, 1);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    ui::ApplyKeyboardConventions(this);
    column->addWidget(ok, 0, Qt::AlignHCenter);
    setFixedSize(sizeHint().expandedTo(QSize(260, 0)));
}
