// libFuzzer target: the import-closure walk over images that are all hostile.
// The input is cut into up to eight images at each "QXIM" marker; an import
// name resolves to image i when its first character is the digit i, so the
// fuzzer controls the graph (cycles, self-imports, fan-out) as well as the
// bytes of every image.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ImportClosure.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const char kMarker[] = "QXIM";
    std::vector<std::pair<const uint8_t*, size_t>> images;
    size_t start = 0;
    for (size_t at = 0; at + 4 <= size && images.size() < 7; ++at)
    {
        if (memcmp(data + at, kMarker, 4) == 0)
        {
            images.emplace_back(data + start, at - start);
            start = at + 4;
            at += 3;
        }
    }
    images.emplace_back(data + start, size - start);

    CImportClosure closure;
    closure.Walk(
        "0",
        [&](const std::string& name)
        {
            const size_t index = name.empty() ? images.size() : size_t(name[0] - '0');
            return index < images.size() ? std::string(1, char('0' + index)) : std::string();
        },
        [&](const std::string& path, CPeImage& image)
        {
            const auto& chunk = images[size_t(path[0] - '0')];
            return image.Parse(chunk.first, chunk.second);
        },
        [] { return false; });
    volatile size_t sink = 0;
    for (const CImportClosure::Image& image : closure.GetImages())
        sink = sink + image.path.size() + image.pe.GetImportNames().size();
    (void)sink;
    return 0;
}
