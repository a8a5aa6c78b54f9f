#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "SymbolPath.h"

class CExclusionList;
class CHttpClient;
class CSingleFlight;

// Finds one symbol file (a PDB or DBG) along a symbol path: the path recorded
// in the image first, then each entry in order (plain directories with their
// "symbols\<ext>" and "<ext>" sub-directories, caches, symbol stores on local
// directories, shares and HTTP servers). A file from an upstream store is
// placed in the downstream store (CStoreFetch) and used from there. Every
// step is reported as one diagnostic line. Several threads may search at
// once, each with a CSymbolSearch of its own over the same settings: the
// HTTP client and the downstream stores are safe to share, and with flights
// set a file that one thread is fetching from a store is not fetched again
// by another meanwhile, which takes the first one's file instead.
class CSymbolSearch
{
public:
    // What the caller's check of a candidate file says.
    struct Verdict
    {
        enum Kind
        {
            Match,
            Mismatch,
            Unreadable
        };
        Kind kind = Unreadable;
        // For Mismatch: the field that differs ("age", "signature", ...).
        std::string reason;
    };
    using Verifier = std::function<Verdict(const std::string& path)>;
    using Diagnostic = std::function<void(const std::string& line)>;

    struct Settings
    {
        const CSymbolPath* path = nullptr;
        const CExclusionList* exclusions = nullptr;
        // Null when this build has no HTTP client: HTTP stores are then skipped.
        CHttpClient* http = nullptr;
        // The store used for an empty downstream element and for HTTP stores
        // named without one.
        std::string defaultStore;
        Diagnostic diagnostic;
        // The largest file taken from a store (an expanded cabinet).
        uint64_t maxFileBytes = 0;
        // How long an HTTP store's "not found" is remembered; 0: not at all.
        unsigned long missSeconds = 0;
        // The fetches in progress of every thread that searches (may be null).
        CSingleFlight* flights = nullptr;
    };

    struct Request
    {
        // The file name taken from the image; it must pass IsSafeFileName.
        std::string fileName;
        // The symbol store index directory (CSymbolStoreKey).
        std::string storeKey;
        // The image's extension without dot, for the per-extension sub-directories.
        std::string imageExtension;
        // The path the image records for the file, tried as it is; may be empty.
        std::string recordedPath;
        Verifier verify;
    };

    struct Result
    {
        // Full path of the matching file; empty when none was found.
        std::string matched;
        // Full path of the first mismatched file seen in a plain directory.
        std::string mismatched;
    };

    explicit CSymbolSearch(const Settings& settings);

    Result Find(const Request& request);

private:
    bool TryCandidate(const Request& request, const std::string& path, const char* prefix, Result& result);
    // Checks the file at path and reports it under the name shown.
    bool CheckCandidate(const Request& request, const std::string& path, const std::string& shown, const char* prefix,
                        Result& result);
    bool SearchDirectory(const Request& request, const std::string& directory, Result& result);
    bool SearchServer(const Request& request, const CSymbolPath::Entry& entry, const std::string& cache,
                      Result& result);
    std::string StorePath(const std::string& store, const Request& request) const;
    void Emit(const std::string& line);

    Settings m_settings;
};
