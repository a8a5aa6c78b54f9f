#pragma once
#include <windows.h>

#include <string>

// The process-wide slot for the last error worth showing to the user: a
// message and a system error code, read and written together under one lock.
class CErrorReport
{
public:
    CErrorReport() = delete;

    static void SetErrorInfo(const std::string& message, DWORD code);
    static void GetErrorInfo(std::string& message, DWORD& code);
    // Empty message, code 0.
    static void ClearErrorInfo();
};
