#pragma once
#include "win32/GdiObject.h"
#include "window/WindowColours.h"

#include <windows.h>

// Dialog base with the dark look: a solid background brush for the dialog,
// its buttons and static controls, and white text on dark grey for statics.
// Runs a dialog template modally and hands its messages to virtual members.
class CColourDialogEx {
public:
    explicit CColourDialogEx(int templateId);
    virtual ~CColourDialogEx() = default;
    CColourDialogEx(const CColourDialogEx&) = delete;
    CColourDialogEx& operator=(const CColourDialogEx&) = delete;

    // The dialog's result, or -1 when it could not be made.
    INT_PTR DoModal(HWND parent = nullptr);

    // The answer to WM_CTLCOLOR*, whose kind `nCtlColor` (CTLCOLOR_MSGBOX to
    // CTLCOLOR_STATIC) is the message less WM_CTLCOLORMSGBOX: the brush for the
    // requesting window's background; null leaves it to the system's own handling.
    virtual HBRUSH OnCtlColor(HDC dc, HWND window, UINT nCtlColor);

    HWND m_hWnd = nullptr;
    COLORREF m_crBkColour = 0;
    COLORREF m_crTextColour = 0;
    GdiObject<HBRUSH> m_brBkBrush;
    bool m_bAltScheme = false;

protected:
    virtual BOOL OnInitDialog() { return TRUE; }
    // OK, Escape and the close box.
    virtual void OnEnd(int result) { EndDialog(m_hWnd, result); }
    // Any other message: true when handled, with the dialog procedure's answer in `result`.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void ApplyScheme();
    int m_templateId;
};
