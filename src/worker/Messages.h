#pragma once
#include <cstdint>

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

// What a run came to: the lParam of the kind 3 notice that ends it, so no
// front end reads the verdict out of the status text. 0 is no result, so a
// notice from elsewhere is never taken for a complete run.
enum class RunResult : std::int64_t {
    Complete = 1,         // "Download Complete"
    Failed = 2,           // "Download Failed - Try Again", and a run that was stopped
    InternetFailed = 3,   // "Internet Failed"
};

// The text the worker sets for a result.
const char* RunResultText(RunResult result);
