#pragma once
#include <windows.h>

// The count of outstanding references that keeps a COM server running (or,
// in process, its module loaded): live objects and class-object locks. The
// server's module keeps it; the class factory and the objects change it
// without knowing the module.
class CServerLock
{
public:
    // A new object or a class-object lock; the new count.
    virtual LONG Lock() = 0;
    // The reference is gone; the new count.
    virtual LONG Unlock() = 0;

protected:
    ~CServerLock() = default;
};
