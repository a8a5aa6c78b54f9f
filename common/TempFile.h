#pragma once
#include <windows.h>

#include <cstddef>
#include <string>

#include "ScopedHandle.h"

// A file written under a temporary name beside its target and renamed over
// the target only once complete, so that no reader of the target ever sees a
// partial file. The temporary name is unique to the process, the thread and
// the call; whatever is not committed is deleted when the object goes.
class CTempFile
{
public:
    CTempFile() = default;
    ~CTempFile() { Discard(); }
    CTempFile(const CTempFile&) = delete;
    CTempFile& operator=(const CTempFile&) = delete;

    // Creates a new, empty temporary file beside target; a leftover of the
    // same name is never reused.
    bool Create(const std::string& target);
    bool Write(const void* data, size_t size);
    // Makes the temporary file a copy of source.
    bool CopyFrom(const std::string& source);
    // Flushes and closes the file, which keeps its temporary name (readers,
    // such as a check of the finished file, may open it now) until Commit
    // or Discard.
    bool Close();
    // Flushes the file and renames it over the target, replacing what was
    // there. A rename refused for a moment (another writer or a reader of
    // the target) is tried again a few times.
    bool Commit();
    // Closes and deletes the temporary file; the target is untouched.
    void Discard();

    // The temporary file's path while there is one.
    const std::string& Path() const { return m_path; }
    // The platform's error code of the last failed step.
    DWORD GetError() const { return m_error; }

private:
    bool Fail();

    CScopedHandle m_file;
    std::string m_path;
    std::string m_target;
    DWORD m_error = 0;
};
