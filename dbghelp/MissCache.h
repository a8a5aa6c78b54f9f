#pragma once
#include <windows.h>

#include <string>

// Remembers, in a downstream store, which files an HTTP store answered "not
// found" for, so that for a while neither this process nor any other asks
// that store again. Each miss is one small file in the store's "000misses"
// directory, named after a hash of the file's URL and holding the URL
// itself; its last-write time is when the answer came. A record is written
// under a temporary name and renamed, so two processes may record and read
// at once. Deleting the directory forgets every miss.
class CMissCache
{
public:
    // seconds 0 turns the cache off: nothing is read or recorded.
    CMissCache(const std::string& downstream, DWORD seconds);

    // True when url was recorded as missing less than the period ago; age
    // receives how long ago, in seconds.
    bool IsRemembered(const std::string& url, DWORD& age) const;
    // Records url as missing now; failures are silent (the store is asked
    // again next time).
    void Remember(const std::string& url) const;

    // The directory of the records in a downstream store.
    static std::string Directory(const std::string& downstream);

private:
    std::string RecordPath(const std::string& url) const;

    std::string m_directory;
    DWORD m_seconds;
};
