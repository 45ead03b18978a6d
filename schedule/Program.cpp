#include "schedule/Program.h"

namespace {

const res::Caption kCaptions[] = {
    {res::kWindowTitle, "任务", "Program"},
    {2, "退出", "Exit"},
};

}  // namespace

CProgram::CProgram(QWidget* parent, bool chinese) : QDialog(parent) {
    ui::BuildClosingButton(this, m_controls, 2);
    ui::ApplyCaptionSet(this, m_controls, kCaptions, chinese);
    resize(480, 320);
}
