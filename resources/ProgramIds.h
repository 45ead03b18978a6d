// Control identifiers of the Program window (dialog 138) and of its four plan pages (dialogs
// 134..137), as the dialog templates number them.
#pragma once

namespace progids {

constexpr int kDialog = 138;
constexpr int kTab = 1153;
constexpr int kExit = 2;

// One plan page: its dialog, its list and its three buttons.
struct PageIds {
    int dialog, list, add, modify, del;
};

// By plan kind: day, week, month, one-time (also the tab order).
constexpr PageIds kPages[4] = {
    {134, 1137, 1138, 1139, 1140},
    {135, 1141, 1142, 1143, 1144},
    {136, 1146, 1145, 1147, 1148},
    {137, 1152, 1149, 1150, 1151},
};

}  // namespace progids
