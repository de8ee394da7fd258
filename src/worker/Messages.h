#pragma once

// The registered notification names and their numbers in this process.
inline constexpr const char* kProgressBarName = "UM_PROGRESS_BAR-{7010B65C-917D-4C50-8AFE-80AE3BEAA594}";
inline constexpr const char* kFilenameUpdateName = "UM_FILENAME_UPDATE-{FBE72E2F-B244-45B9-A201-B5CAFBDF67D3}";
inline constexpr const char* kEndZipName = "UM_END_ZIP-{CFDC1528-2069-4288-A855-EB81C6E88003}";
inline constexpr const char* kEndThreadName = "UM_END_THREAD-{2F9560E7-C2F9-4915-A58F-6DA582114CFE}";

extern const unsigned UM_PROGRESS_BAR;
extern const unsigned UM_FILENAME_UPDATE;
extern const unsigned UM_END_ZIP;

// Kinds of UM_FILENAME_UPDATE.
enum NotifyKind : unsigned {
    kStatusChanged = 0,
    kApplicationChosen = 1,
    kUpdateChosen = 2,
    kJobOver = 3,
};
