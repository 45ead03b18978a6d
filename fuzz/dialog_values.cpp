// What the dialogs make of the numbers typed into their boxes: the box readers, the fast mosaic's
// Auto Calculate and send checks, the screen settings' geometry checks and previews, and the
// output resolution's dot-clock check, from any text. Input: lines of box text. Properties,
// beyond no undefined behaviour: a window the mosaic lets through lies within the output, is at
// least 64 pixels large and even; a geometry that passes lies within the output; a preview stays
// inside its frame; the dot-clock verdict agrees with the product taken in floating point.
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "mosaic/MosaicLayout.h"
#include "platform/BoxNumber.h"
#include "screen/OutputResolution.h"
#include "screen/ScreenChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view in(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> boxes;
    while (!in.empty() && boxes.size() < 64) {
        const size_t nl = in.find('\n');
        boxes.emplace_back(in.substr(0, nl));
        in = nl == std::string_view::npos ? std::string_view() : in.substr(nl + 1);
    }
    boxes.resize(16);
    const auto num = [&](size_t i) { return platform::BoxNumber(boxes[i]); };

    // The fast mosaic: a wall of the typed size (kept small), Auto Calculate, then the send check.
    const int rows = static_cast<int>(static_cast<uint32_t>(num(0)) % 6 + 1);
    const int cols = static_cast<int>(static_cast<uint32_t>(num(1)) % 8 + 1);
    const auto& res = screen::kOutputResolutions[static_cast<uint32_t>(num(2)) % 16];
    mosaic::Wall wall{rows,
                      cols,
                      res.width,
                      res.height,
                      static_cast<int>(static_cast<uint32_t>(num(3)) % (rows * cols)),
                      {},
                      {}};
    for (int s = 0; s < rows * cols; ++s) {
        wall.widths.push_back(boxes[4 + static_cast<size_t>(s) % 6]);
        wall.heights.push_back(boxes[10 + static_cast<size_t>(s) % 6]);
    }
    const mosaic::CalcResult calc = mosaic::AutoCalculate(wall);
    const mosaic::WindowValues adjusted{num(4), num(5), num(6), num(7)};
    const mosaic::ComposeResult sent =
        mosaic::ComposeWindow(calc.input, adjusted, res.width, res.height);
    if (sent.failedCheck == 0) {
        const mosaic::WindowValues& v = sent.values;
        fuzz::Check(v.width >= 64 && v.height >= 64 && v.hStart >= 0 && v.vStart >= 0);
        fuzz::Check(int64_t{v.hStart} + v.width <= res.width &&
                    int64_t{v.vStart} + v.height <= res.height);
        fuzz::Check(v.width % 2 == 0 && v.height % 2 == 0 && v.hStart % 2 == 0 &&
                    v.vStart % 2 == 0);
    }
    mosaic::StepAdjusted(num(8), num(9) % 3);

    // The screen settings: a geometry against an output of the typed size, and its preview.
    const screen::Size output{platform::BoxNumber(boxes[10]), platform::BoxNumber(boxes[11])};
    screen::WindowGeometry g{};
    g.w = platform::BoxNumber(boxes[12]);
    g.hs = platform::BoxNumber(boxes[13]);
    g.h = platform::BoxNumber(boxes[14]);
    g.vs = platform::BoxNumber(boxes[15]);
    const screen::GeometryCheck geometry = screen::CheckGeometry(g, output);
    if (geometry.kind == screen::GeometryCheck::kOk) {
        fuzz::Check(int64_t{g.hs} + g.w <= output.width && int64_t{g.vs} + g.h <= output.height);
    }
    const screen::Rect r = screen::PreviewRect(200, 120, output, g);
    if (geometry.kind == screen::GeometryCheck::kOk) {
        fuzz::Check(r.left >= 0 && r.top >= 0 && r.left + r.width <= 200 &&
                    r.top + r.height <= 120);
    }

    // The output resolution: the dot clock of the typed size.
    const int32_t w = platform::BoxNumber(boxes[4]), h = platform::BoxNumber(boxes[5]),
                  f = platform::BoxNumber(boxes[6]);
    const long double clock = (static_cast<long double>(h) + 45) *
                              (static_cast<long double>(w) + 184) * static_cast<long double>(f);
    fuzz::Check(screen::DotClockInRange(w, h, f) ==
                (clock >= screen::kMinDotClock && clock <= screen::kMaxDotClock));
    return 0;
}
