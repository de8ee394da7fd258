#pragma once
#include "window/CButtonColours.h"

#include <windows.h>

// A push button that paints its whole face: solid background, raised or
// sunken 3-D edge, caption centred in a word-wrapped band, focus rectangle.
// Normal and hover colours switch on mouse movement.
class CColourButton : public CButtonColours {
public:
    CColourButton();
    ~CColourButton();
    CColourButton(const CColourButton&) = delete;
    CColourButton& operator=(const CColourButton&) = delete;

    // Takes over a dialog's button: owner-drawn from now on, its mouse
    // moves seen here. The owner hands WM_DRAWITEM for it to DrawItem.
    void Attach(HWND button);
    void DrawItem(const DRAWITEMSTRUCT* lpDrawItemStruct);
    void OnMouseMove(UINT nFlags, POINT point);
    void OnMouseLeave();

    HWND m_hWnd = nullptr;

private:
    static LRESULT CALLBACK ButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                       DWORD_PTR self);
};
