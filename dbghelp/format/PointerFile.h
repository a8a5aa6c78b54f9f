#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A symbol store's file.ptr, which stands in the place of a file: one line,
// "PATH:<path>" naming where the file really lies, or "MSG:<text>" saying
// why the store has no file (shown to the user; the search of that store
// ends there). The keyword is matched without regard to case; blanks around
// the value and line ends after it are dropped. Parse checks the syntax
// only: whether a path is one to open is the caller's decision.
class CPointerFile
{
public:
    enum Kind
    {
        Invalid,
        Path,
        Message
    };

    // Real pointers are one short line; anything longer is refused.
    static constexpr size_t kMaxSize = 4096;

    CPointerFile();

    // On failure returns false, leaves the kind Invalid and says why in GetError().
    bool Parse(const uint8_t* data, size_t size);

    Kind GetKind() const { return m_kind; }
    // The path or the message text; a path is never empty.
    const std::string& GetText() const { return m_text; }
    const std::string& GetError() const { return m_error; }

private:
    bool Fail(const char* error);

    Kind m_kind;
    std::string m_text;
    std::string m_error;
};
