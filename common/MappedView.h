#pragma once
#include <windows.h>

// Owns one mapped view of a file (MapViewOfFile's result) and unmaps it when
// it goes.
class CMappedView
{
public:
    CMappedView() = default;
    explicit CMappedView(void* view) : m_view(view) {}
    ~CMappedView() { Unmap(); }
    CMappedView(const CMappedView&) = delete;
    CMappedView& operator=(const CMappedView&) = delete;

    void* Get() const { return m_view; }
    bool IsValid() const { return m_view != nullptr; }
    // Takes ownership of another view, unmapping the one held before.
    void Reset(void* view)
    {
        Unmap();
        m_view = view;
    }
    // Unmaps the view now; false (last error set) when UnmapViewOfFile failed.
    bool Unmap()
    {
        void* view = m_view;
        m_view = nullptr;
        return view == nullptr || UnmapViewOfFile(view) != FALSE;
    }

private:
    void* m_view = nullptr;
};
