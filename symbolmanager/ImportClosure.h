#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "PeImage.h"

// The images that the loader maps before a program's entry point runs: the
// program, the DLLs it imports statically, theirs, and so on. Each name is
// resolved once (by the caller, the way the loader searches from the
// program's point of view); API-set names are contracts, not files, and are
// never resolved. An image of the other pointer width than the program's is
// not one the loader would map into it, and is left out with its imports.
// The walk is breadth-first and bounded: at most kMaxImages images and
// kMaxNames distinct names, so a circular, damaged or huge import graph ends.
class CImportClosure
{
public:
    struct Image
    {
        // The resolved path, as the resolver gave it.
        std::string path;
        CPeImage pe;
    };
    // A full path for a DLL name, or empty when it resolves to nothing.
    using Resolve = std::function<std::string(const std::string& name)>;
    // Reads and parses the image at path; false when it is no image.
    using Read = std::function<bool(const std::string& path, CPeImage& image)>;
    // Asked between images: true ends the walk at once.
    using Cancelled = std::function<bool()>;

    static constexpr size_t kMaxImages = 512;
    static constexpr size_t kMaxNames = 2048;

    // Walks from the program at path. False when the program itself cannot be
    // read or the walk was cancelled; the images found until then are kept.
    bool Walk(const std::string& program, const Resolve& resolve, const Read& read, const Cancelled& cancelled);

    // The program first, then the images in the order they were reached.
    const std::vector<Image>& GetImages() const { return m_images; }

    // api-ms-win-* and ext-ms-* (any case): names the loader maps to real DLLs itself.
    static bool IsApiSetName(const std::string& name);

private:
    std::vector<Image> m_images;
};
