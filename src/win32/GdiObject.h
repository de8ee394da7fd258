#pragma once
#include <windows.h>

#include <utility>

// Owns one GDI object (a font, a brush) and deletes it with itself.
template <class Handle>
class GdiObject {
public:
    explicit GdiObject(Handle handle = nullptr) : m_handle(handle) {}
    ~GdiObject() { reset(); }
    GdiObject(GdiObject&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}
    GdiObject& operator=(GdiObject&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_handle = std::exchange(other.m_handle, nullptr);
        }
        return *this;
    }
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;

    Handle get() const { return m_handle; }
    void reset(Handle handle = nullptr)
    {
        if (m_handle)
            (void)DeleteObject(m_handle);   // nothing to do about a failure here
        m_handle = handle;
    }

private:
    Handle m_handle;
};
