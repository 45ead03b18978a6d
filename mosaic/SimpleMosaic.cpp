#include "mosaic/SimpleMosaic.h"

namespace {

const res::Caption kCaptions[] = {
    {res::kWindowTitle, "快速拼接", "Fast Mosaic"},
    {2, "退出", "Exit"},
};

}  // namespace

CSimpleMosaic::CSimpleMosaic(QWidget* parent, bool chinese) : QDialog(parent) {
    ui::BuildClosingButton(this, m_controls, 2);
    ui::ApplyCaptionSet(this, m_controls, kCaptions, chinese);
    resize(480, 320);
}
