// Control identifiers of the screen settings dialog (dialog 129), as its template numbers them.
#pragma once

namespace sids {

// ---- window geometry ----
// Per window, in the order of screen::Window (input, output, main, PIP): the width, horizontal
// start, height and vertical start boxes, their labels, the Save, the group, the coloured preview
// rectangle, its frame and the frame's size label.
struct GeometryIds {
    int w, hs, h, vs;
    int wLabel, hsLabel, hLabel, vsLabel;
    int save, group, rect, frame, sizeLabel;
};
// Index of a window in kGeometry, as screen::Window numbers them.
enum GeometryIndex { kInputWindow, kOutputWindow, kMainWindow, kPipWindow };
constexpr GeometryIds kGeometry[4] = {
    {1028, 1029, 1030, 1031, 1204, 1205, 1206, 1207, 1004, 1238, 1165, 1161, 1168},  // input
    {1037, 1038, 1039, 1040, 1215, 1216, 1217, 1218, 1012, 1240, 1166, 1162, 1169},  // output
    {1024, 1025, 1026, 1027, 1188, 1189, 1190, 1191, 1000, 1242, 1164, 1160, 1167},  // main
    {1033, 1034, 1158, 1159, 1192, 1193, 1194, 1195, 1008, 1243, 1163, 1160, 1167},  // PIP
};
constexpr int kMainSave = 1000, kPipSave = 1008, kInputSave = 1004, kOutputSave = 1012;
constexpr int kPipSizeGroup = 1233;  // holds the main and PIP groups and their preview
// "(0,0)" at the top left of the main/PIP, input and output frames
constexpr int kOriginLabels[3] = {1200, 1210, 1221};
constexpr int kPipHint = 1315;
// PIP layout
constexpr int kLayoutGroup = 1232;
constexpr int kLayoutRadios[3] = {1020, 1021, 1022};  // M1, M2, M3

// ---- picture, audio and modes ----
constexpr int kTextGroup = 1235;
constexpr int kThresholdRadios[2] = {1042, 1041};   // "<Threshold" (0), ">Threshold" (1)
constexpr int kKeyColours[3] = {1048, 1046, 1056};  // red, green, blue boxes
constexpr int kKeyArrows[3] = {1283, 1284, 1285};
constexpr int kKeyLabels[3] = {1201, 1202, 1203};
constexpr int kTextSave = 1043;

constexpr int kBrightnessGroup = 1211, kBrightness = 1051, kBrightnessRange = 1307;
constexpr int kBrightnessSave = 1044, kBrightnessReset = 1045;
constexpr int kBiasGroup = 1213, kBias = 1063, kBiasSave = 1058, kBiasReset = 1049;

constexpr int kColourGroup = 1212;
struct ColourRow {
    const char* source;
    int edit, save, reset;
    int code;
};
// Index of a source's row in kColourRows.
enum ColourRowIndex { kV1Row, kV2Row, kHdmiRow, kDviRow, kDpRow, kExtRow, kYPbPrRow };
constexpr ColourRow kColourRows[7] = {
    {"V1", 1055, 1057, 1047, 0},    {"V2", 1060, 1065, 1050, 1}, {"HDMI", 1066, 1067, 1052, 4},
    {"DVI", 1068, 1069, 1053, 5},   {"DP", 1070, 1071, 1075, 6}, {"EXT", 1076, 1079, 1080, 7},
    {"YPbPr", 1081, 1082, 1083, 8},
};

constexpr int kSharpnessGroup = 1214, kNormal = 1064, kSharp = 1054;
constexpr int kAudioGroup = 1231, kAudio1 = 1072, kAudio2 = 1073, kAudioSave = 1074;
constexpr int kHotSpareGroup = 1234;
constexpr int kHotSpareBoxes[3] = {1078, 1061, 1062};  // V1>>V2, HDMI>>DVI, VGA1>>VGA2
constexpr int kHotSpareSave = 1077;
constexpr int kV2Group = 1219, kV2Radio = 1125, kYPbPrRadio = 1314;
constexpr int kMosaicModeGroup = 1229, kNoSyncMosaic = 1291, kSyncMosaic = 1059;

// ---- bottom ----
constexpr int kRefresh = 1016, kExit = 2, kInfo = 1035, kInfoLabel = 1244;
// Beside Refresh: a processor's settings saved to and loaded from a file (not in the template).
constexpr int kSaveToFile = 1400, kLoadFromFile = 1401;

// The 15 controls EnableSaveControls sets, in its order.
constexpr int kBusyLocked[15] = {1043, 1044, 1057, 1065, 1067, 1069, 1071, 1079,
                                 1082, 1058, 1074, 1064, 1054, 1077, 1012};

// The 28 numeric edit boxes, one modified flag each: the 16 geometry boxes, then brightness,
// bias, the seven colours and the three key colours.
constexpr int kNumericBoxes[28] = {
    1028, 1029, 1030, 1031, 1037, 1038, 1039, 1040, 1024, 1025, 1026, 1027, 1033, 1034,
    1158, 1159, 1051, 1063, 1055, 1060, 1066, 1068, 1070, 1076, 1081, 1048, 1046, 1056,
};

}  // namespace sids
