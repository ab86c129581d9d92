// Control and command ids of the main window. Widgets and menu actions carry
// their id as objectName (and actions also as data()), so that the command
// dispatch and the tests find them by it.
#pragma once

namespace ids {

// Controls.
constexpr int kProgView = 1046;
constexpr int kDataView = 1045;
constexpr int kProgRange = 1004;
constexpr int kDataRange = 1005;
constexpr int kMemoryGroup = 1021;
constexpr int kLockBit1 = 1016;
constexpr int kLockBit2 = 1017;
constexpr int kFstrt = 1019;
constexpr int kSpien = 1018;
constexpr int kMessages = 1025;
constexpr int kProgress = 1013;
constexpr int kStop = 1050;  // beside the progress bar while an operation runs

// The command buttons.
constexpr int kWriteAll = 1032;
constexpr int kWriteProg = 1033;
constexpr int kWriteData = 1026;
constexpr int kWriteLock = 1027;
constexpr int kReadAll = 1031;
constexpr int kReadProg = 1034;
constexpr int kReadData = 1028;
constexpr int kReadLock = 1029;
constexpr int kVerifyAll = 32776;
constexpr int kVerifyProg = 1040;
constexpr int kVerifyData = 1041;
constexpr int kVerifyLock = 1042;
constexpr int kEraseAll = 32773;
constexpr int kEraseProg = 1043;
constexpr int kEraseData = 1044;
constexpr int kExit = 1;

// File menu.
constexpr int kFileOpen = 57601;
constexpr int kFileClose = 57602;
constexpr int kFileSave = 57603;
constexpr int kFileSaveAs = 57604;
constexpr int kOpenProgFile = 32796;
constexpr int kSaveProgFile = 32798;
constexpr int kSaveAsProgFile = 32799;
constexpr int kOpenDataFile = 32800;
constexpr int kSaveDataFile = 32802;
constexpr int kSaveAsDataFile = 32803;
constexpr int kRecentProgBlank = 32810;
constexpr int kRecentDataBlank = 32811;
constexpr int kRecentProg1 = 1047;
constexpr int kRecentData1 = 1048;
constexpr int kRecentProg2 = 1049;
constexpr int kRecentData2 = 1050;
constexpr int kSetUp = 32771;
constexpr int kProduction = 32830;  // a recipe's production window

// Device menu.
constexpr int kAutoDetect = 32806;
constexpr int kOtherDevice = 32812;  // the chooser of every part
constexpr int kFuses = 32813;        // the Fuses window

// Help menu.
constexpr int kAbout = 32777;

}  // namespace ids
