// Writes the import walker's seed corpus: images of both widths with the
// imports the hook library looks for, among others.
#include <cstdio>
#include <string>
#include <vector>

#include "ImageBuilder.h"

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    int written = 0;
    for (bool pe32Plus : {false, true})
    {
        std::vector<CImageBuilder> images(3, CImageBuilder(pe32Plus));
        images[0].Import("KERNEL32.dll", {"LoadLibraryA"});
        images[1].Import("USER32.dll", {"MessageBoxA", "#12"}).Import("KERNEL32.dll", {"#5", "WaitForDebugEvent"});
        images[2].Import("KERNEL32.dll", {"GetVersion", "", "LoadLibraryA", "LoadLibraryA"});
        for (CImageBuilder& builder : images)
        {
            const std::vector<uint8_t> bytes = builder.Build();
            const std::string path = std::string(argv[1]) + "/seed" + std::to_string(written++) + ".bin";
            FILE* file = std::fopen(path.c_str(), "wb");
            if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size())
                return 1;
            std::fclose(file);
        }
    }
    return 0;
}
