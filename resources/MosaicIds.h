// Control identifiers of the fast mosaic dialog (dialog 147), as its template numbers them, and
// those of the screen grid's cells.
#pragma once

namespace mosaic::ids {

// specification
constexpr int kSpecGroup = 1279, kRowLabel = 1280, kColumnLabel = 1281;
constexpr int kRowBox = 1254, kColumnBox = 1255, kSpecOk = 1008;
// "1X1" .. "4X3", and their rows and columns
constexpr int kPresetCount = 12;
constexpr int kPresets[kPresetCount] = {1020, 1029, 1030, 1031, 1032, 1033,
                                        1063, 1064, 1065, 1066, 1067, 1068};
constexpr int kPresetRows[kPresetCount] = {1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4};
constexpr int kPresetCols[kPresetCount] = {1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3};
// the Effects-show box that holds the grid
constexpr int kEffectsShow = 1273;
// device ID
constexpr int kConnectGroup = 1274;
constexpr int kIdRadios[9] = {1021, 1022, 1023, 1024, 1025, 1026, 1027, 1028, 1036};
constexpr int kIdList = 1018, kConnect = 1009;
// the lower panel
constexpr int kMosaicGroup = 1275;
constexpr int kResolutionGroup = 1278, kResolutionList = 1272, kDetect = 1003;
constexpr int kModeGroup = 1209, kNoSyncMosaic = 1297, kSyncMosaic = 1298;
constexpr int kAutoCalculate = 1000;
constexpr int kInputGroup = 1276, kOutputGroup = 1277;
// row labels: width, height, horizontal start, vertical start
constexpr int kInputLabels[4] = {1185, 1186, 1187, 1188};
constexpr int kOutputLabels[4] = {1193, 1194, 1195, 1196};
constexpr int kInputCalculatedHead = 1189, kInputAdjustedHead = 1190;
constexpr int kOutputCalculatedHead = 1197, kOutputAdjustedHead = 1198;
// frames around the Calculated and the Adjusted column
constexpr int kInputFrames[2] = {1191, 1192};
constexpr int kOutputFrames[2] = {1199, 1200};
// the "+" between a Calculated and an Adjusted box, input rows then output rows
constexpr int kPlusLabels[8] = {1201, 1202, 1203, 1204, 1205, 1206, 1207, 1208};
// value boxes in the row order width, height, horizontal start, vertical start
constexpr int kInputCalculated[4] = {1257, 1256, 1258, 1259};
constexpr int kInputAdjusted[4] = {1260, 1261, 1262, 1263};
constexpr int kOutputCalculated[4] = {1265, 1264, 1266, 1267};
constexpr int kOutputAdjusted[4] = {1268, 1269, 1270, 1271};
// the arrows of the Adjusted boxes, in the same order
constexpr int kInputArrows[4] = {1289, 1290, 1291, 1292};
constexpr int kOutputArrows[4] = {1293, 1294, 1295, 1296};
constexpr int kSetInput = 1001, kSetOutput = 1002;
constexpr int kExit = 2;

// The screen grid: cell n's controls are these bases + n.
constexpr int kNumberButtonBase = 2000, kCellFrameBase = 2100, kHeightBoxBase = 2200,
              kWidthBoxBase = 2300, kHeightLabelBase = 2400, kWidthLabelBase = 2500;
// Room for cells; the largest wall has 48.
constexpr int kMaxCells = 50;

}  // namespace mosaic::ids
