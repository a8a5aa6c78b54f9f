#pragma once
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "ComTestSupport.h"
#include "TestSupport.h"

// For tests that reach the registered qx3fetch: the calling thread in the
// multithreaded apartment, a destination directory, the sample images and
// their symbol store.
class SymbolServerFixture : public ::testing::Test
{
protected:
    void SetUp() override;

    std::string Dest() const { return m_dest.Path(); }
    // "srv*" and the samples' symbol store.
    static std::string StorePath();
    // A sample image opened for reading; the caller owns the handle.
    static HANDLE OpenImage(const std::string& name);
    // Terminates the one running server and waits until it and its class
    // registration have gone; its process id, or 0 when none ran.
    static DWORD KillTheServer();

private:
    CComApartment m_apartment;
    CTempDir m_dest;
};
