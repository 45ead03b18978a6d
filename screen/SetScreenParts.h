// Small helpers shared by the files of the screen settings dialog (its controls, its handlers and
// what its sequences hand back). Internal to the dialog.
#pragma once

#include <QString>
#include <array>
#include <string>

#include "screen/ScreenChecks.h"
#include "resources/SetScreenIds.h"

namespace screen::parts {

inline QString Utf8(const char* s) {
    return QString::fromUtf8(s);
}
inline QString Utf8(const std::string& s) {
    return QString::fromUtf8(s.c_str());
}

// Index of a numeric box in the dialog's list of 28, or -1.
inline int NumericIndex(int boxId) {
    for (int i = 0; i < 28; ++i) {
        if (sids::kNumericBoxes[i] == boxId) {
            return i;
        }
    }
    return -1;
}

// The four box identifiers of a window in the order width, horizontal start, height, vertical
// start.
inline std::array<int, 4> GeometryBoxes(Window which) {
    const sids::GeometryIds& g = sids::kGeometry[which];
    return {g.w, g.hs, g.h, g.vs};
}

}  // namespace screen::parts
