#include "screen/Advanced.h"

namespace {

const res::Caption kCaptions[] = {
    {res::kWindowTitle, "分辨率", "Resolution"},
    {1, "确定", "OK"},
};

}  // namespace

CCAdvanced::CCAdvanced(QWidget* parent, bool chinese) : QDialog(parent) {
    ui::BuildClosingButton(this, m_controls, 1);
    ui::ApplyCaptionSet(this, m_controls, kCaptions, chinese);
    resize(480, 320);
}
