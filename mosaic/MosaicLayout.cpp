#include "mosaic/MosaicLayout.h"

#include <cstdlib>
#include <limits>

#include "platform/BoxNumber.h"

namespace mosaic {

using platform::BoxNumber;

namespace {

constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

std::string_view BoxText(const std::vector<std::string>& boxes, int n) {
    return n >= 0 && n < static_cast<int>(boxes.size()) ? std::string_view(boxes[n])
                                                        : std::string_view();
}

// One size of the checks: empty, outside 64 .. limit (compared unsigned), or good (added to sum).
CalcMessage CheckSize(std::string_view text, int limit, CalcMessage whenEmpty, uint64_t& sum) {
    if (text.empty()) {
        return whenEmpty;
    }
    const auto v = static_cast<uint32_t>(BoxNumber(text));
    if (v > static_cast<uint32_t>(limit) || v < static_cast<uint32_t>(kMinSize)) {
        return CalcMessage::kOutOfRange;
    }
    sum += v;
    return CalcMessage::kNone;
}

// (part ÷ sum) × resolution in double precision, truncated toward zero. A quotient beyond the
// 32-bit range (only from a negative height read as unsigned) becomes the largest value, which
// the send checks refuse.
int32_t Share(uint64_t part, uint64_t sum, int resolution) {
    const double q = static_cast<double>(part) / static_cast<double>(sum) * resolution;
    if (q >= static_cast<double>(kInt32Max)) {
        return static_cast<int32_t>(kInt32Max);
    }
    return static_cast<int32_t>(q);
}

}  // namespace

SpecCheck CheckSpecification(int32_t rows, int32_t cols) {
    const auto r = static_cast<uint32_t>(rows);
    const auto c = static_cast<uint32_t>(cols);
    if (r > kMaxRows || c > kMaxCols) {
        return SpecCheck::kTooLarge;
    }
    if (r == 0 || c == 0) {
        return SpecCheck::kTooSmall;
    }
    return SpecCheck::kOk;
}

CalcResult AutoCalculate(const Wall& wall) {
    CalcResult r;
    const int cols = wall.cols;
    const int s = wall.selected;
    const int rowStart = (s / cols) * cols;  // first screen of the selected row
    const int column = s % cols;

    // Widths of the selected row, left to right.
    uint64_t sumW = 0;
    for (int n = rowStart; n < rowStart + cols; ++n) {
        const CalcMessage m = CheckSize(BoxText(wall.widths, n), wall.outWidth,
                                        CalcMessage::kHorizontalIncomplete, sumW);
        if (m != CalcMessage::kNone) {
            r.horizontal = {m, n};
            break;
        }
    }
    // Heights of the first column, top to bottom.
    uint64_t sumH = 0;
    for (int j = 0; j < wall.rows; ++j) {
        const int n = j * cols;
        const CalcMessage m = CheckSize(BoxText(wall.heights, n), wall.outHeight,
                                        CalcMessage::kVerticalIncomplete, sumH);
        if (m != CalcMessage::kNone) {
            r.vertical = {m, n};
            return r;
        }
    }
    if (r.horizontal.message != CalcMessage::kNone) {
        return r;
    }

    uint64_t leftW = 0;
    for (int n = rowStart; n < rowStart + column; ++n) {
        leftW += static_cast<uint32_t>(BoxNumber(BoxText(wall.widths, n)));
    }
    uint64_t topH = 0;
    for (int j = 0; j < s / cols; ++j) {
        topH += static_cast<uint32_t>(BoxNumber(BoxText(wall.heights, j * cols)));
    }
    // The selected screen's height has been checked only when it is in the first column.
    const int32_t w = BoxNumber(BoxText(wall.widths, s));
    const int32_t h = BoxNumber(BoxText(wall.heights, s));
    r.input.width = Share(static_cast<uint32_t>(w), sumW, wall.outWidth);
    r.input.height = Share(static_cast<uint32_t>(h), sumH, wall.outHeight);
    r.input.hStart = Share(leftW, sumW, wall.outWidth);
    r.input.vStart = Share(topH, sumH, wall.outHeight);
    r.output = WindowValues{w, h, 0, 0};
    r.calculated = true;
    return r;
}

ComposeResult ComposeWindow(const WindowValues& calculated, const WindowValues& adjusted,
                            int outWidth, int outHeight) {
    // 64-bit sums: a Calculated value near the 32-bit end plus an Adjusted one does not wrap.
    const int64_t W = int64_t{calculated.width} + adjusted.width;
    const int64_t X = int64_t{calculated.hStart} + adjusted.hStart;
    const int64_t H = int64_t{calculated.height} + adjusted.height;
    const int64_t Y = int64_t{calculated.vStart} + adjusted.vStart;
    const int64_t OW = outWidth;
    const int64_t OH = outHeight;

    ComposeResult r;
    if (W > OW || W < kMinSize || std::llabs(X) + W > OW) {
        r.failedCheck = 1;
        r.box = Quantity::kWidth;
    } else if (X > OW || X < 0 || std::llabs(W) + X > OW) {
        r.failedCheck = 2;
        r.box = Quantity::kHStart;
    } else if (H > OH || H < kMinSize || std::llabs(Y) + H > OH) {
        r.failedCheck = 3;
        r.box = Quantity::kHeight;
    } else if (Y > OH || Y < 0 || std::llabs(H) + Y > OH) {
        r.failedCheck = 4;
        r.box = Quantity::kVStart;
    } else if (W % 2 != 0 || X % 2 != 0 || H % 2 != 0 || Y % 2 != 0) {
        r.failedCheck = 5;
        r.box = W % 2 != 0   ? Quantity::kWidth
                : X % 2 != 0 ? Quantity::kHStart
                : H % 2 != 0 ? Quantity::kHeight
                             : Quantity::kVStart;
    }
    if (r.failedCheck == 0) {
        r.values = WindowValues{static_cast<int32_t>(W), static_cast<int32_t>(H),
                                static_cast<int32_t>(X), static_cast<int32_t>(Y)};
    }
    return r;
}

int32_t StepAdjusted(int32_t value, int step) {
    int64_t v = value;
    if (step == -1) {
        ++v;
    } else if (step == 1) {
        --v;
    }
    return static_cast<int16_t>(static_cast<uint16_t>(v & 0xFFFF));
}

}  // namespace mosaic
