#include "win32/CColourDialogEx.h"

CColourDialogEx::CColourDialogEx(int templateId) : m_templateId(templateId)
{
    m_bAltScheme = false;
    ApplyScheme();
}

void CColourDialogEx::ApplyScheme()
{
    m_brBkBrush.reset();
    const DialogScheme scheme = SchemeColours(m_bAltScheme);
    m_crBkColour = scheme.background;
    m_crTextColour = scheme.text;
    // Without a brush the requests it would answer get the system's own look.
    m_brBkBrush.reset(CreateSolidBrush(m_crBkColour));
}

INT_PTR CColourDialogEx::DoModal(HWND parent)
{
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_templateId), parent, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

HBRUSH CColourDialogEx::OnCtlColor(HDC dc, HWND, UINT nCtlColor)
{
    switch (nCtlColor) {
    case CTLCOLOR_DLG:
    case CTLCOLOR_BTN:
        return m_brBkBrush.get();
    case CTLCOLOR_STATIC:
        SetTextColor(dc, m_crTextColour);
        // The text's cells in the brush's colour: no lighter boxes behind it.
        SetBkColor(dc, m_crBkColour);
        return m_brBkBrush.get();
    default:
        return nullptr;   // what a plain dialog answers
    }
}

bool CColourDialogEx::OnMessage(UINT, WPARAM, LPARAM, INT_PTR&)
{
    return false;
}

INT_PTR CALLBACK CColourDialogEx::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<CColourDialogEx*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->m_hWnd = window;
        return self->OnInitDialog();
    }
    auto* self = reinterpret_cast<CColourDialogEx*>(GetWindowLongPtrW(window, DWLP_USER));
    if (!self)
        return FALSE;
    if (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC)
        return reinterpret_cast<INT_PTR>(self->OnCtlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam),
                                                          message - WM_CTLCOLORMSGBOX));
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        self->OnEnd(LOWORD(wParam));
        return TRUE;
    }
    if (message == WM_NCDESTROY)
        self->m_hWnd = nullptr;
    INT_PTR result = 0;
    if (!self->OnMessage(message, wParam, lParam, result))
        return FALSE;
    // A handled message's answer goes back through DWLP_MSGRESULT, except for
    // the few a dialog procedure returns itself.
    if (message == WM_QUERYDRAGICON)
        return result;
    SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
    return TRUE;
}
