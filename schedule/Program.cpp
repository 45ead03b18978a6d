#include "schedule/Program.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const res::Caption kCaptions[] = {
    {res::kWindowTitle, "任务", "Program"},
    {2, "退出", "Exit"},
};

}  // namespace

CProgram::CProgram(QWidget* parent, bool chinese) : QDialog(parent) {
    auto* button = new QPushButton;
    button->setAutoDefault(false);
    ui::RegisterControl(m_controls, 2, button);
    connect(button, &QPushButton::clicked, this, &QDialog::reject);
    auto* column = new QVBoxLayout(this);
    column->addStretch();
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(button);
    column->addLayout(row);
    ui::ApplyCaptionSet(this, m_controls, kCaptions, chinese);
    resize(480, 320);
}
