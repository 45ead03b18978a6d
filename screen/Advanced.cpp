#include "screen/Advanced.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const res::Caption kCaptions[] = {
    {res::kWindowTitle, "分辨率", "Resolution"},
    {1, "确定", "OK"},
};

}  // namespace

CCAdvanced::CCAdvanced(QWidget* parent, bool chinese) : QDialog(parent) {
    auto* button = new QPushButton;
    button->setAutoDefault(false);
    ui::RegisterControl(m_controls, 1, button);
    connect(button, &QPushButton::clicked, this, &QDialog::accept);
    auto* column = new QVBoxLayout(this);
    column->addStretch();
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(button);
    column->addLayout(row);
    ui::ApplyCaptionSet(this, m_controls, kCaptions, chinese);
    resize(480, 320);
}
