#include "win32/CColourButton.h"

#include "window/CaptionBand.h"

#include <commctrl.h>

#include <string>

namespace {

std::wstring WindowText(HWND window)
{
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

// As a device context's solid fill does it: the colour also becomes the text
// background, so the caption's cells show the same colour.
void FillSolidRect(HDC dc, const RECT& rect, COLORREF colour)
{
    SetBkColor(dc, colour);
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
}

}   // namespace

CColourButton::CColourButton() = default;

CColourButton::~CColourButton()
{
    if (m_hWnd)
        RemoveWindowSubclass(m_hWnd, ButtonProc, 0);
}

void CColourButton::Attach(HWND button)
{
    m_hWnd = button;
    const LONG_PTR style = GetWindowLongPtrW(button, GWL_STYLE);
    SetWindowLongPtrW(button, GWL_STYLE, (style & ~static_cast<LONG_PTR>(BS_TYPEMASK)) | BS_OWNERDRAW);
    SetWindowSubclass(button, ButtonProc, 0, reinterpret_cast<DWORD_PTR>(this));
}

void CColourButton::DrawItem(const DRAWITEMSTRUCT* lpDrawItemStruct)
{
    // The device context is borrowed for this paint only.
    const HDC dc = lpDrawItemStruct->hDC;
    RECT rect = lpDrawItemStruct->rcItem;
    FillSolidRect(dc, rect, CurrentBk());
    DrawEdge(dc, &rect, (lpDrawItemStruct->itemState & ODS_SELECTED) ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
    SetTextColor(dc, m_crCurText);
    const std::wstring caption = WindowText(lpDrawItemStruct->hwndItem);

    InflateRect(&rect, -5, 0);
    RECT measured{0, 0, 0, 0};
    DrawTextW(dc, caption.c_str(), -1, &measured, DT_CALCRECT);
    const int band =
        CaptionBandHeight(measured.right - measured.left, measured.bottom - measured.top, rect.right - rect.left);
    rect.top = CaptionBandTop(rect.top, rect.bottom, band);
    rect.bottom = rect.top + band;
    DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &rect, DT_CENTER | DT_WORDBREAK);

    if (lpDrawItemStruct->itemState & ODS_FOCUS) {
        RECT focus = lpDrawItemStruct->rcItem;
        InflateRect(&focus, -5, -5);
        DrawFocusRect(dc, &focus);
    }
}

void CColourButton::OnMouseMove(UINT, POINT)
{
    // The button repaints as the pointer enters it, not on every move.
    const bool entering = Hover();
    TRACKMOUSEEVENT track{};
    track.cbSize = sizeof track;
    track.dwFlags = TME_LEAVE;
    track.hwndTrack = m_hWnd;
    (void)TrackMouseEvent(&track);   // asked again on every move; a refusal only keeps the hover colours
    if (entering)
        InvalidateRect(m_hWnd, nullptr, FALSE);
}

void CColourButton::OnMouseLeave()
{
    Leave();
    InvalidateRect(m_hWnd, nullptr, TRUE);
}

LRESULT CALLBACK CColourButton::ButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                           DWORD_PTR self)
{
    auto* button = reinterpret_cast<CColourButton*>(self);
    switch (message) {
    case WM_MOUSEMOVE:
        button->OnMouseMove(static_cast<UINT>(wParam),
                            POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))});
        break;
    case WM_MOUSELEAVE:
        button->OnMouseLeave();
        break;
    case BM_SETSTYLE:
        // The dialog marks its default button by style; the face stays ours.
        wParam = (wParam & ~static_cast<WPARAM>(BS_TYPEMASK)) | BS_OWNERDRAW;
        break;
    case WM_NCDESTROY:
        RemoveWindowSubclass(window, ButtonProc, 0);
        button->m_hWnd = nullptr;
        break;
    default:
        break;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}
