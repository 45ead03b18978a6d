// Control identifiers of the add-plan dialog (dialog 139), as its template numbers them.
#pragma once

namespace addplanids {

constexpr int kDialog = 139;
constexpr int kOk = 1;
constexpr int kDate = 1155;
constexpr int kTime = 1156;
constexpr int kWeekDay = 1018;
constexpr int kMonthDay = 1019;
constexpr int kQuestion = 1185;
constexpr int kWeekDayLabel = 1186;
constexpr int kMonthDayLabel = 1187;
constexpr int kSourceGroup = 1188;
// By source code 0..7; the second one gives 1 (V2) or 8 (YPbPr).
constexpr int kSources[8] = {1157, 1158, 1159, 1160, 1161, 1162, 1163, 1164};

}  // namespace addplanids
