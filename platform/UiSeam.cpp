#include "platform/UiSeam.h"

#include <atomic>
#include <cstdio>

namespace platform {

namespace {

class HeadlessSeam : public UiSeam {
public:
    bool MessageBox(const std::string& text, const std::string& caption, int) override {
        std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
        return false;
    }
    int RunModal(ModalDialog& dialog) override { return dialog.ExecModal(); }
};

HeadlessSeam g_headless;
std::atomic<UiSeam*> g_seam{&g_headless};

}  // namespace

UiSeam& Ui() {
    return *g_seam.load(std::memory_order_acquire);
}

void SetUi(UiSeam* seam) {
    g_seam.store(seam != nullptr ? seam : &g_headless);
}

}  // namespace platform
