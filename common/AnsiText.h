#pragma once
#include <string>

// Conversions between the ANSI code page, in which every narrow string of the
// system is held, and the UTF-16 of COM and of the IDE's application object.

// A null string gives an empty one; characters the code page lacks become its
// default character.
std::string WideToAnsi(const wchar_t* text);
std::wstring AnsiToWide(const std::string& text);
