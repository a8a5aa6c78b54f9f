#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "PrefetchQueue.h"

class CPeImage;

// Fetches, ahead of the debugger, the symbol files of the images that a
// program is about to load: the closure of its static imports and what its
// last session loaded. Only the downstream store is filled; each image's own
// request still checks and copies. One program at a time: starting the next
// drops the earlier one's work and records what its session loaded.
class CSymbolPrefetch
{
public:
    // What SymFindFileInPath needs to fetch one symbol file.
    struct Target
    {
        std::string fileName;
        // A PDB 7.00 is named by GUID (guid set), anything else by value.
        bool byGuid = false;
        std::array<uint8_t, 16> guid = {};
        uint32_t value = 0;
        uint32_t two = 0;

        // The store key's parts: equal targets are one fetch.
        bool operator<(const Target& other) const;
    };
    // Where each image's own request copies its symbol files: dir, or with
    // useFileExt its sub-directory named after the image's extension. A file
    // already there is not fetched (empty path: nothing is in place).
    struct Destination
    {
        std::string path;
        bool useFileExt = true;
    };
    // Fetches one target along symbolPath into its downstream store.
    using Fetch = std::function<void(const std::string& symbolPath, const Target& target)>;

    static constexpr size_t kMaxRecorded = 512;

    CSymbolPrefetch(size_t maxParallel, Fetch fetch);
    // Drops the work in flight and records the current program's session.
    ~CSymbolPrefetch();
    CSymbolPrefetch(const CSymbolPrefetch&) = delete;
    CSymbolPrefetch& operator=(const CSymbolPrefetch&) = delete;

    // Starts on program; historyFile keeps what each program's last session
    // loaded (empty: nothing remembered). Returns at once.
    void Start(const std::string& program, const std::string& symbolPath, const Destination& destination,
               const std::string& historyFile);
    // Drops the current program's work and records its session.
    void Stop();
    // An image whose symbols were asked for in the current program's session.
    void RecordLoaded(const std::string& image);
    // Waits until the work started so far is done or dropped.
    void WaitIdle();

    // The symbol file that image's debug directory names, if any: its PDB,
    // else the DBG file of a stripped image.
    static bool TargetOf(const CPeImage& image, Target& target);

private:
    void Record();
    void Plan(const std::string& program, const std::string& symbolPath, const Destination& destination,
              const std::vector<std::string>& remembered, const CPrefetchQueue::Cancelled& cancelled);

    Fetch m_fetch;
    std::mutex m_lock;
    std::string m_program;
    std::string m_historyFile;
    std::vector<std::string> m_loaded;
    std::set<std::string> m_loadedFolded;
    // Last: destroyed first, so no task runs on a member that is gone.
    CPrefetchQueue m_queue;
};
