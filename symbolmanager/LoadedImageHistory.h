#pragma once

#include <cstddef>
#include <string>
#include <vector>

// What each program's last debugging session loaded: per program path, the
// paths of the images whose symbols were asked for. Kept in a small text
// file of its own ("QX3LOADED 1", then a "P <program>" line followed by its
// "I <image>" lines, most recent program first), bounded in programs, images
// and bytes, and replaced whole through a temporary file. A file that breaks
// any rule is ignored as a whole: a guess from a damaged list is worth less
// than none.
class CLoadedImageHistory
{
public:
    static constexpr size_t kMaxPrograms = 32;
    static constexpr size_t kMaxImagesPerProgram = 512;
    static constexpr size_t kMaxLineLength = 259;
    static constexpr size_t kMaxFileBytes = 1024 * 1024;

    // Reads file; false (and an empty history) when it is missing or damaged.
    bool Load(const std::string& file);
    // Replaces file with this history; false when it cannot be written.
    bool Save(const std::string& file) const;

    // The images of program's last session (compared without regard to case).
    std::vector<std::string> ImagesOf(const std::string& program) const;
    // Makes images program's last session, first in the file; the oldest
    // programs beyond kMaxPrograms are forgotten, images beyond
    // kMaxImagesPerProgram not kept.
    void Remember(const std::string& program, const std::vector<std::string>& images);

private:
    struct Program
    {
        std::string path;
        std::vector<std::string> images;
    };
    std::vector<Program> m_programs;
};
