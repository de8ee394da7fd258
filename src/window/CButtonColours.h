#pragma once
#include "window/WindowColours.h"

// The colour button's colours and their switching, shared by the Qt and the
// Win32 button: normal and hover pairs, the three current colours painted,
// and the alternative background that nothing turns on.
class CButtonColours {
public:
    ColourValue m_crNormalBk = Rgb(0, 123, 204);
    ColourValue m_crNormalBkAlt = Rgb(0, 0, 128);
    ColourValue m_crNormalText = Rgb(255, 255, 255);
    ColourValue m_crHoverBk = Rgb(0, 0, 255);
    ColourValue m_crHoverText = Rgb(255, 255, 255);
    ColourValue m_crCurBk = Rgb(0, 123, 204);
    ColourValue m_crCurBkAlt = Rgb(0, 0, 128);
    ColourValue m_crCurText = Rgb(255, 255, 255);
    bool m_bAltBk = false;

    // The pointer moved over the button: the hover colours become current.
    // True when they were not already (the face changes).
    bool Hover()
    {
        const bool entering = m_crCurBk != m_crHoverBk || m_crCurText != m_crHoverText;
        m_crCurBk = m_crHoverBk;
        m_crCurBkAlt = m_crHoverBk;
        m_crCurText = m_crHoverText;
        return entering;
    }
    // The pointer left: the normal colours become current.
    void Leave()
    {
        m_crCurBk = m_crNormalBk;
        m_crCurBkAlt = m_crNormalBkAlt;
        m_crCurText = m_crNormalText;
    }
    // The background painted now.
    ColourValue CurrentBk() const { return m_bAltBk ? m_crCurBkAlt : m_crCurBk; }
};
