#pragma once
#include <unknwn.h>

// Owns one COM interface pointer and releases it when it goes, so that every
// early return gives its reference back.
template <typename T>
class CScopedComPtr
{
public:
    CScopedComPtr() = default;
    explicit CScopedComPtr(T* pointer) : m_pointer(pointer) {}
    ~CScopedComPtr() { Reset(); }
    CScopedComPtr(const CScopedComPtr&) = delete;
    CScopedComPtr& operator=(const CScopedComPtr&) = delete;

    T* Get() const { return m_pointer; }
    T* operator->() const { return m_pointer; }
    explicit operator bool() const { return m_pointer != nullptr; }
    // Releases the current pointer and hands out the slot for an out-parameter.
    T** Receive()
    {
        Reset();
        return &m_pointer;
    }
    void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }
    void Reset()
    {
        if (m_pointer != nullptr)
            m_pointer->Release();
        m_pointer = nullptr;
    }

private:
    T* m_pointer = nullptr;
};
