// What qx3ide.dll carries: its dialog templates control by control, the
// toolbar glyph strips, the project name string and the version information.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ByteReader.h"
#include "QuillmarHost.h"

namespace
{

const DWORD kDialogStyle = DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU;
const DWORD kChild = WS_CHILD | WS_VISIBLE;
const uint16_t kNoId = 0xFFFF;

// One control as its template records it; the class by name, whether the
// template gives the name or a predefined class's ordinal.
struct Control
{
    uint16_t Id;
    std::string Class;
    DWORD Style;
    std::string Text;
    short X, Y, Width, Height;

    bool operator==(const Control& other) const
    {
        return Id == other.Id && _stricmp(Class.c_str(), other.Class.c_str()) == 0 && Style == other.Style &&
               Text == other.Text && X == other.X && Y == other.Y && Width == other.Width && Height == other.Height;
    }
};

void PrintTo(const Control& control, std::ostream* out)
{
    *out << control.Id << " class " << control.Class << " style " << std::hex << control.Style << std::dec << " \""
         << control.Text << "\" " << control.X << "," << control.Y << "," << control.Width << "," << control.Height;
}

struct Dialog
{
    DWORD Style = 0;
    std::string Caption;
    std::string Font;
    uint16_t PointSize = 0;
    short Width = 0, Height = 0;
    std::vector<Control> Controls;
};

bool ReadWide(CByteReader& reader, std::string& text)
{
    text.clear();
    for (;;)
    {
        uint16_t c = 0;
        if (!reader.ReadU16(c))
            return false;
        if (c == 0)
            return true;
        text += static_cast<char>(c < 0x80 ? c : '?');
    }
}

// A name or an ordinal: 0xFFFF and the ordinal, or a wide string.
bool ReadNameOrOrdinal(CByteReader& reader, uint16_t& ordinal, std::string& name)
{
    uint16_t first = 0;
    if (!reader.ReadU16(first))
        return false;
    ordinal = 0;
    name.clear();
    if (first == 0xFFFF)
        return reader.ReadU16(ordinal);
    if (first == 0)
        return true;
    name += static_cast<char>(first);
    std::string rest;
    if (!ReadWide(reader, rest))
        return false;
    name += rest;
    return true;
}

bool AlignTo4(CByteReader& reader)
{
    return reader.Seek((reader.GetPosition() + 3) & ~static_cast<size_t>(3));
}

bool ParseDialog(HMODULE module, int id, Dialog& dialog)
{
    const HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));
    if (resource == nullptr)
        return false;
    CByteReader reader(static_cast<const uint8_t*>(LockResource(LoadResource(module, resource))),
                       SizeofResource(module, resource));
    uint32_t style = 0, exStyle = 0;
    uint16_t count = 0, x = 0, y = 0, width = 0, height = 0, ordinal = 0;
    std::string name;
    if (!reader.ReadU32(style) || !reader.ReadU32(exStyle) || !reader.ReadU16(count) || !reader.ReadU16(x) ||
        !reader.ReadU16(y) || !reader.ReadU16(width) || !reader.ReadU16(height) ||
        !ReadNameOrOrdinal(reader, ordinal, name) || !ReadNameOrOrdinal(reader, ordinal, name) ||
        !ReadWide(reader, dialog.Caption) || !reader.ReadU16(dialog.PointSize) || !ReadWide(reader, dialog.Font))
        return false;
    dialog.Style = style;
    dialog.Width = static_cast<short>(width);
    dialog.Height = static_cast<short>(height);
    for (uint16_t i = 0; i < count; ++i)
    {
        Control control = {};
        uint32_t itemStyle = 0, itemExStyle = 0;
        uint16_t values[5] = {};
        uint16_t extra = 0;
        if (!AlignTo4(reader) || !reader.ReadU32(itemStyle) || !reader.ReadU32(itemExStyle))
            return false;
        for (uint16_t& value : values)
        {
            if (!reader.ReadU16(value))
                return false;
        }
        uint16_t classOrdinal = 0;
        if (!ReadNameOrOrdinal(reader, classOrdinal, control.Class) ||
            !ReadNameOrOrdinal(reader, ordinal, control.Text) || !reader.ReadU16(extra) || !reader.Skip(extra))
            return false;
        if (classOrdinal == 0x80)
            control.Class = "Button";
        else if (classOrdinal == 0x81)
            control.Class = "Edit";
        else if (classOrdinal == 0x82)
            control.Class = "Static";
        control.Style = itemStyle;
        control.X = static_cast<short>(values[0]);
        control.Y = static_cast<short>(values[1]);
        control.Width = static_cast<short>(values[2]);
        control.Height = static_cast<short>(values[3]);
        control.Id = values[4];
        dialog.Controls.push_back(control);
    }
    return true;
}

HMODULE AddInModule()
{
    return CQuillmarAddIn::Get().Module();
}

void ExpectDialog(int id, const char* caption, short width, short height, const std::vector<Control>& controls)
{
    Dialog dialog;
    ASSERT_TRUE(ParseDialog(AddInModule(), id, dialog)) << id;
    EXPECT_EQ(kDialogStyle, dialog.Style) << id;
    EXPECT_EQ(caption, dialog.Caption);
    EXPECT_EQ("MS Sans Serif", dialog.Font);
    EXPECT_EQ(8, dialog.PointSize);
    EXPECT_EQ(width, dialog.Width);
    EXPECT_EQ(height, dialog.Height);
    EXPECT_EQ(controls, dialog.Controls) << caption;
}

class ResourcesTest : public QuillmarTest
{
};

TEST_F(ResourcesTest, SettingsDialogTemplate)
{
    const DWORD button = kChild | WS_TABSTOP;
    const DWORD edit = kChild | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
    ExpectDialog(
        201, "Quillmar Configuration", 299, 266,
        {
            {kNoId, "Button", kChild | BS_GROUPBOX | WS_GROUP, "Symbol server status", 7, 7, 226, 50},
            {201, "Button", button | BS_AUTOCHECKBOX | WS_GROUP, "&Enable symbol server", 23, 23, 104, 10},
            {216, "Button", button | BS_AUTOCHECKBOX | WS_GROUP, "&Report progress", 36, 40, 140, 10},
            {210, "Button", button | BS_PUSHBUTTON | WS_GROUP, "E&xclusions...", 137, 20, 50, 14},
            {kNoId, "Button", kChild | BS_GROUPBOX | WS_GROUP, "Symbol server path", 7, 63, 226, 82},
            {202, "Button", button | BS_AUTORADIOBUTTON, "U&se _NT_SYMBOL_PATH", 23, 77, 121, 10},
            {203, "Button", button | BS_AUTORADIOBUTTON, "Use &this path:", 23, 109, 197, 10},
            {204, "Edit", edit | WS_GROUP | ES_READONLY, "", 36, 90, 185, 14},
            {206, "Edit", edit | WS_GROUP, "", 36, 122, 185, 14},
            {kNoId, "Button", kChild | BS_GROUPBOX | WS_GROUP, "Visual C++ symbol directories", 7, 152, 226, 103},
            {kNoId, "Static", kChild | SS_LEFT | WS_GROUP, "&Main symbol directory:", 23, 166, 138, 8},
            {208, "Edit", edit, "", 23, 179, 198, 14},
            {kNoId, "Static", kChild | SS_LEFT | WS_GROUP, "Additional &PDB directories:", 23, 198, 139, 8},
            {213, "Edit", edit, "", 23, 211, 198, 14},
            {209, "Button", button | BS_PUSHBUTTON | WS_GROUP, "&Defaults", 23, 232, 50, 14},
            {1, "Button", button | BS_DEFPUSHBUTTON | WS_GROUP, "OK", 242, 10, 50, 14},
            {2, "Button", button | BS_PUSHBUTTON, "Cancel", 242, 29, 50, 14},
            {211, "Button", button | BS_PUSHBUTTON, "&Help", 242, 52, 50, 14},
            {212, "Button", button | BS_PUSHBUTTON, "&About...", 242, 71, 50, 14},
        });
}

TEST_F(ResourcesTest, ExclusionsAndAboutDialogTemplates)
{
    const DWORD button = kChild | WS_TABSTOP;
    ExpectDialog(
        204, "Exclusions", 221, 111,
        {
            {kNoId, "Static", kChild | SS_LEFT | WS_GROUP,
             "Enter the names of files which should be excluded from symbol server search. \nWildcards are allowed "
             "(for example, file.*).",
             7, 7, 147, 27},
            {214, "Edit", kChild | WS_BORDER | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE | ES_AUTOHSCROLL | ES_WANTRETURN,
             "", 7, 39, 149, 65},
            {1, "Button", button | BS_DEFPUSHBUTTON | WS_GROUP, "OK", 164, 7, 50, 14},
            {2, "Button", button | BS_PUSHBUTTON, "Cancel", 164, 24, 50, 14},
            {215, "Button", button | BS_PUSHBUTTON, "&Help", 164, 41, 50, 14},
        });
    ExpectDialog(205, "About Quillmar", 210, 63,
                 {
                     {1, "Button", button | BS_DEFPUSHBUTTON, "OK", 153, 7, 50, 14},
                     {kNoId, "Static", kChild | SS_LEFT | WS_GROUP, "Quillmar 1.0", 7, 10, 129, 8},
                 });
}

TEST_F(ResourcesTest, GlyphStripsProjectNameAndVersion)
{
    for (const auto& strip : {std::make_pair(203, std::make_pair(32, 16)), std::make_pair(202, std::make_pair(64, 32))})
    {
        const HBITMAP bitmap = static_cast<HBITMAP>(
            LoadImageA(AddInModule(), MAKEINTRESOURCEA(strip.first), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        ASSERT_NE(nullptr, bitmap) << strip.first;
        BITMAP described = {};
        GetObjectA(bitmap, sizeof(described), &described);
        DeleteObject(bitmap);
        EXPECT_EQ(strip.second.first, described.bmWidth);
        EXPECT_EQ(strip.second.second, described.bmHeight);
        EXPECT_EQ(4, described.bmBitsPixel);
    }

    char name[32] = {};
    ASSERT_GT(LoadStringA(AddInModule(), 100, name, sizeof(name)), 0);
    EXPECT_STREQ("IdeAddIn", name);

    const std::string path = AddIn().File("qx3ide.dll");
    DWORD ignored = 0;
    std::vector<char> info(GetFileVersionInfoSizeA(path.c_str(), &ignored));
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(MAKELONG(0, 1), fixed->dwFileVersionMS);
    EXPECT_EQ(MAKELONG(0, 18), fixed->dwFileVersionLS);
    EXPECT_EQ(MAKELONG(0, 1), fixed->dwProductVersionMS);
    EXPECT_EQ(0u, fixed->dwProductVersionLS);
    for (const auto& value :
         {std::make_pair("FileDescription", "Quillmar IDE AddIn"), std::make_pair("InternalName", "IdeAddIn")})
    {
        char* text = nullptr;
        ASSERT_TRUE(VerQueryValueA(info.data(), (std::string("\\StringFileInfo\\040904b0\\") + value.first).c_str(),
                                   reinterpret_cast<void**>(&text), &length));
        EXPECT_STREQ(value.second, text);
    }
}

} // namespace
