#pragma once
#include <windows.h>

#include <string>

// The temporary file a download's body is written to, beside its target. It
// is deleted unless Commit renamed it into place, so every early return of a
// download cleans up after itself.
class CDownloadFile
{
public:
    CDownloadFile() = default;
    ~CDownloadFile();
    CDownloadFile(const CDownloadFile&) = delete;
    CDownloadFile& operator=(const CDownloadFile&) = delete;

    // A new file beside target, named so that no two downloads (in this or
    // another process) share it; a leftover of the same name is never reused.
    bool Create(const std::string& target);
    bool Write(const char* data, size_t size);
    // Flushes the file and renames it to target, replacing what was there.
    bool Commit(const std::string& target);

    const std::string& Path() const { return m_path; }
    // The platform's error of the last step that failed.
    DWORD Error() const { return m_error; }

private:
    void Discard();

    HANDLE m_handle = INVALID_HANDLE_VALUE;
    std::string m_path;
    DWORD m_error = 0;
};
