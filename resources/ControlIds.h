// Control identifiers of the main window (dialog 102), as the dialog template numbers them.
#pragma once

namespace ids {

// connection
constexpr int kSerialNetworkGroup = 1218, kSerialRadio = 1303, kNetworkRadio = 1304;
constexpr int kPortLabel = 1187, kPortCombo = 1018, kIpAddress = 1305, kPortEdit = 1306;
constexpr int kDeviceIdLabel = 1186, kDeviceIdCombo = 1065;
constexpr int kDeviceIdRadios[6] = {1111, 1024, 1025, 1026, 1027, 1028};
constexpr int kConnect = 1066, kDisconnect = 1072, kAutoConnect = 1290, kStartTimer = 1291;
// language
constexpr int kLanguageGroup = 1193, kChineseRadio = 1124, kEnglishRadio = 1037;
constexpr int kChineseFlag = 1242, kEnglishFlag = 1243;
// sources
constexpr int kSourceGroup = 1188;
constexpr int kV1 = 1114, kV2 = 1115, kVga1 = 1120, kVga2 = 1121, kHdmi = 1119, kDvi = 1118,
              kDp = 1311, kExt = 1122, kAutoTake = 1132;
// lamps of the source codes 0..7 (code 8 uses the V2 lamp)
constexpr int kSourceLamps[8] = {1073, 1074, 1075, 1076, 1077, 1078, 1079, 1080};
constexpr int kPreviewLabel = 1210;
// EXT. input (display only), in the order of the codes 0..4
constexpr int kExtGroup = 1195;
constexpr int kExtRadios[5] = {1036, 1029, 1040, 1030, 1041};
// transition and switch mode
constexpr int kTransitionGroup = 1194;
constexpr int kTransitionRadios[4] = {1020, 1022, 1038, 1039};
constexpr int kSwitchModeGroup = 1205, kOneKeySwitch = 1042, kPreTakeSwitch = 1043;
// overlays and functions
constexpr int kPipGroup = 1192, kPipPbp = 1127, kM1 = 1031, kM2 = 1032, kM3 = 1033;
constexpr int kFunctionGroup = 1191, kText = 1128, kBypass = 1129, kFreeze = 1131, kMosaicFn = 1130;
constexpr int kPipLamp = 1083, kTextLamp = 1084, kBypassLamp = 1085, kFreezeLamp = 1086,
              kMosaicLamp = 1087, kM1Lamp = 1089, kM2Lamp = 1090, kM3Lamp = 1091;
// sub-dialogs
constexpr int kSetup = 1019, kMosaicDlg = 1023, kResolution = 1034, kProgram = 1021;
// timer panel
constexpr int kTimerGroup = 1190;
constexpr int kDay = 1067, kWeek = 1068, kMonth = 1069, kOnce = 1070, kAll = 1071;
constexpr int kStart = 1016, kStop = 1017, kTimerPanel = 1000;
constexpr int kCurrentTimerGroup = 1197, kNextTimerGroup = 1198;
// row labels "Time:", "Signal:", "Status:", "Result:" of the current and next timer
constexpr int kCurrentLabels[4] = {1201, 1202, 1203, 1204};
constexpr int kNextLabels[4] = {1206, 1207, 1208, 1209};
// value fields in the same rows
constexpr int kCurrentValues[4] = {1299, 1300, 1301, 1302};
constexpr int kNextValues[4] = {1307, 1308, 1309, 1310};
// status
constexpr int kInfoGroup = 1189, kInfo = 1035, kExit = 2;

// The 24 controls that EnableSwitchControls enables and disables, in its order.
constexpr int kSwitchControls[24] = {1042, 1043, 1021, 1114, 1115, 1118, 1119, 1311,
                                     1120, 1121, 1122, 1020, 1022, 1038, 1039, 1016,
                                     1127, 1128, 1129, 1130, 1131, 1019, 1023, 1034};

// The progress dialog (dialog 142) and its text.
constexpr int kProgressText = 1185;

}  // namespace ids
