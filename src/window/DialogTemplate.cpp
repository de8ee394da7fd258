#include "window/DialogTemplate.h"

#include "window/resource.h"

namespace {
constexpr TextLayout kLeftCentred = TextLayout::LeftCentred;
constexpr TextLayout kLeftTop = TextLayout::LeftTop;
constexpr TextLayout kCentred = TextLayout::Centred;
}   // namespace

const DialogTemplate& MainDialogTemplate()
{
    static const DialogTemplate t{
        IDD_VORNDOWNLOAD_DIALOG,
        "Download KEL from VORN FTP Site",
        317,
        250,
        {
            {IDOK, ControlKind::DefPushButton, "OK", 0, 260, 229, 50, 14, kCentred},
            {IDC_STATIC, ControlKind::Picture, "", IDB_BANNER, 7, 7, 303, 68, kCentred},
            {IDC_APP_CAPTION, ControlKind::Static, "KEL Application File Found", 0, 12, 80, 157, 20, kLeftCentred},
            {IDC_APP_NAME, ControlKind::Static, "None", 0, 193, 80, 112, 20, kLeftCentred},
            {IDC_APP_PROGRESS, ControlKind::ProgressBar, "", 0, 7, 105, 303, 15, kLeftTop},
            {IDC_UPDATE_CAPTION, ControlKind::Static, "KEL Update File Found", 0, 12, 124, 157, 20, kLeftCentred},
            {IDC_UPDATE_NAME, ControlKind::Static, "None", 0, 193, 124, 112, 20, kLeftCentred},
            {IDC_UPDATE_PROGRESS, ControlKind::ProgressBar, "", 0, 7, 149, 303, 15, kLeftTop},
            {IDC_MESSAGE, ControlKind::Static, "Message", 0, 7, 223, 246, 20, kLeftCentred},
            {IDC_FOLDER_CAPTION, ControlKind::Static, "All files downloaded to:-", 0, 7, 171, 303, 20, kLeftTop},
            // Both windows show the real Download folder on this line instead.
            {IDC_FOLDER, ControlKind::Static, "C:\\VORN\\Download", 0, 7, 193, 303, 23, kCentred},
        },
    };
    return t;
}

const DialogTemplate& AboutDialogTemplate()
{
    static const DialogTemplate t{
        IDD_ABOUTBOX,
        "About VORNdownload",
        170,
        62,
        {
            {IDC_STATIC, ControlKind::Picture, "", IDR_MAINFRAME, 14, 14, 21, 20, kCentred},
            {IDC_STATIC, ControlKind::Static, "VORNdownload, Version 1.0", 0, 42, 14, 114, 8, kLeftTop},
            {IDC_STATIC, ControlKind::Static, "\xA9 Brevant Technology Limited", 0, 42, 26, 124, 8, kLeftTop},
            {IDOK, ControlKind::DefPushButton, "OK", 0, 113, 41, 50, 14, kCentred},
        },
    };
    return t;
}
