#pragma once

#include <string>
#include <vector>

// Where the loader looks for a DLL that a program imports by name, in its
// standard search order: the program's own folder, the system folder, the
// Windows folder, then each folder of PATH. The first folder that holds a
// file of that name wins. A name without an extension gets ".dll", as the
// loader gives it; a name holding a path is no plain import and resolves to
// nothing.
class CDllSearchPath
{
public:
    // PATH entries beyond this many are not searched.
    static constexpr size_t kMaxPathEntries = 64;

    explicit CDllSearchPath(std::vector<std::string> directories);

    // The order for program (a full path), with this process's system and
    // Windows folders and PATH: qx3fetch has the debuggee's pointer width.
    static CDllSearchPath ForProgram(const std::string& program);

    // The full path of name's file, or empty.
    std::string Resolve(const std::string& name) const;

    const std::vector<std::string>& GetDirectories() const { return m_directories; }

private:
    std::vector<std::string> m_directories;
};
