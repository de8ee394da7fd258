#pragma once
#include <mutex>
#include <string>

// One text handed from the worker to the receiver. The copy is taken under the
// lock, so a reader always gets a whole text, never one half-overwritten.
class CTextSlot {
public:
    void Set(std::string text)
    {
        std::lock_guard guard(m_lock);
        m_text.swap(text);
    }
    std::string Get() const
    {
        std::lock_guard guard(m_lock);
        return m_text;
    }

private:
    mutable std::mutex m_lock;
    std::string m_text;
};
