#include "screen/SetScreen.h"

namespace {

const res::Caption kCaptions[] = {
    {res::kWindowTitle, "屏幕参数", "Screen Program"},
    {2, "退出", "Exit"},
};

}  // namespace

CSetScreen::CSetScreen(QWidget* parent, bool chinese) : QDialog(parent) {
    ui::BuildClosingButton(this, m_controls, 2);
    ui::ApplyCaptionSet(this, m_controls, kCaptions, chinese);
    resize(480, 320);
}
