#pragma once

#include <cstdint>
#include <functional>
#include <string>

class CHttpClient;
class CTempFile;

// Gets one symbol file from one upstream symbol store (a directory, a share
// or an HTTP server) and places it in the downstream store. Below a store's
// <name>\<key> directory lies the file itself (<name>), its compressed form
// (<nam_>, a cabinet holding the file) or file.ptr, which names where the
// file lies ("PATH:") or says why there is none ("MSG:"); they are tried in
// that order. What is found is checked before it counts, and it gets its
// name in the downstream store only once checked, through a temporary file:
// nothing damaged or mismatched is left there. An HTTP store's "not found"
// for all three is remembered in the downstream store (CMissCache).
class CStoreFetch
{
public:
    using Diagnostic = std::function<void(const std::string& line)>;
    // Checks the symbol file at path, reporting it under the name shown;
    // true when it matches the image.
    using Check = std::function<bool(const std::string& path, const std::string& shown)>;

    struct Settings
    {
        CHttpClient* http = nullptr;
        Diagnostic diagnostic;
        // The largest file taken from a store: an expanded cabinet beyond it is refused.
        uint64_t maxFileBytes = 0;
        // How long an HTTP store's "not found" is remembered; 0: not at all.
        unsigned long missSeconds = 0;
        // Where a compressed entry of a local store without downstream store is expanded.
        std::string defaultStore;
    };

    CStoreFetch(const Settings& settings, const std::string& fileName, const std::string& storeKey, const Check& check);

    // The full path of the matching file (in downstream, or in the upstream
    // store itself when there is no downstream store and the file needs no
    // expanding); empty when the store has none.
    std::string FromLocal(const std::string& store, const std::string& downstream);
    // downstream must be a local directory: every download lands there.
    std::string FromHttp(const std::string& store, const std::string& downstream);

    // The store's name for the compressed form of fileName (its last
    // character replaced by '_'); empty when there is none.
    static std::string CompressedName(const std::string& fileName);

private:
    std::string Entry(const std::string& store, const std::string& leaf) const;
    std::string Place(const std::string& source, const std::string& downstream);
    // Checks the finished temporary file and, when it matches, gives it the
    // target's name; the target, or empty.
    std::string Keep(CTempFile& file, const std::string& target);
    std::string Expand(const std::string& cabinet, const std::string& shown, const std::string& downstream);
    std::string FollowPointer(const std::string& pointer, const std::string& shown, const std::string& downstream);
    void Emit(const std::string& line);

    Settings m_settings;
    std::string m_fileName;
    std::string m_storeKey;
    Check m_check;
};
