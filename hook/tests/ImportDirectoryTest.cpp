#include "ImportDirectory.h"

#include <gtest/gtest.h>

#include "ImageBuilder.h"

namespace
{

// Runs every case on a PE32 and on a PE32+ image.
class ImportDirectoryTest : public ::testing::TestWithParam<bool>
{
protected:
    CImageBuilder Builder() const { return CImageBuilder(GetParam()); }

    // The slot RVA of function through dll's descriptor; false when either walk fails.
    static bool FindSlot(const std::vector<uint8_t>& image, const char* dll, const char* function, uint32_t& slot)
    {
        CImportDirectory imports;
        uint32_t descriptor = 0;
        slot = 0;
        if (!imports.Open(image.data(), image.size()) || !imports.FindDescriptor(dll, descriptor))
            return false;
        return descriptor == 0 || imports.FindSlot(descriptor, function, slot);
    }
};

TEST_P(ImportDirectoryTest, FindsTheFirstSlotOfAnImportByNameIgnoringCaseAndOrdinals)
{
    CImageBuilder builder = Builder();
    // Ordinal 0x4C6F is the bytes "oL": read as a name RVA it would point
    // outside the image, not at a name.
    builder.Import("USER32.dll", {"MessageBoxA"})
        .Import("KERNEL32.dll", {"#19567", "", "GetVersion", "LoadLibraryA", "LoadLibraryA"});
    const std::vector<uint8_t> image = builder.Build();
    CImportDirectory imports;
    ASSERT_TRUE(imports.Open(image.data(), image.size()));
    EXPECT_EQ(builder.ThunkSize(), imports.GetThunkSize());
    uint32_t descriptor = 0;
    ASSERT_TRUE(imports.FindDescriptor("kernel32.DLL", descriptor));
    EXPECT_EQ(builder.DescriptorRva(1), descriptor);
    uint32_t slot = 0;
    ASSERT_TRUE(imports.FindSlot(descriptor, "loadlibrarya", slot));
    EXPECT_EQ(builder.SlotRva(1, 3), slot);
}

TEST_P(ImportDirectoryTest, MissingImportsAreNoFailure)
{
    CImageBuilder builder = Builder();
    builder.Import("KERNEL32.dll", {"GetVersion", "#5"});
    std::vector<uint8_t> image = builder.Build();
    uint32_t slot = 1;
    EXPECT_TRUE(FindSlot(image, "KERNEL32.dll", "LoadLibraryA", slot));
    EXPECT_EQ(0u, slot);
    EXPECT_TRUE(FindSlot(image, "KERNEL32", "GetVersion", slot));
    EXPECT_EQ(0u, slot);

    // No import directory at all.
    CImageBuilder::Put32(image, builder.ImportEntryOffset(), 0);
    EXPECT_TRUE(FindSlot(image, "KERNEL32.dll", "GetVersion", slot));
    EXPECT_EQ(0u, slot);
}

TEST_P(ImportDirectoryTest, RefusesWhatIsNoImageOfEitherWidth)
{
    const std::vector<uint8_t> good = Builder().Import("KERNEL32.dll", {"GetVersion"}).Build();
    const struct
    {
        uint32_t offset;
        uint32_t value;
    } damages[] = {
        {0, 0x5A4E},                                  // DOS signature
        {CImageBuilder::kNtHeaders, 0x00004551},      // NT signature
        {CImageBuilder::kNtHeaders + 24, 0x0107},     // optional header magic (ROM image)
        {0x3C, CImageBuilder::kSizeOfImage - 100},    // NT headers run past SizeOfImage
        {CImageBuilder::kNtHeaders + 24 + 56, 0x100}, // SizeOfImage cuts into the headers
    };
    CImportDirectory imports;
    for (const auto& damage : damages)
    {
        std::vector<uint8_t> image = good;
        CImageBuilder::Put32(image, damage.offset, damage.value);
        if (damage.offset == 0)
            image[2] = good[2];
        EXPECT_FALSE(imports.Open(image.data(), image.size())) << damage.offset;
    }
    EXPECT_FALSE(imports.Open(good.data(), 63));
    EXPECT_FALSE(imports.Open(good.data(), 200));
    EXPECT_FALSE(imports.Open(nullptr, 0));
}

TEST_P(ImportDirectoryTest, RefusesWalksThatWouldLeaveTheImage)
{
    CImageBuilder builder = Builder();
    builder.Import("KERNEL32.dll", {"GetVersion", "LoadLibraryA"});
    const std::vector<uint8_t> good = builder.Build();
    const uint32_t descriptor = builder.DescriptorRva(0);
    const uint32_t beyond = CImageBuilder::kSizeOfImage;
    uint32_t nameTable = 0;
    uint32_t dllName = 0;
    for (int i = 0; i < 4; ++i)
    {
        nameTable |= uint32_t(good[descriptor + i]) << (8 * i);
        dllName |= uint32_t(good[descriptor + 12 + i]) << (8 * i);
    }
    const struct
    {
        const char* what;
        uint32_t offset;
        uint32_t value;
    } damages[] = {
        {"no import name table", descriptor, 0},
        {"name table beyond the image", descriptor, beyond},
        {"address table beyond the image", descriptor + 16, beyond - 4},
        {"no address table", descriptor + 16, 0},
        {"misaligned address table", descriptor + 16, CImageBuilder::kAddressPage + 2},
        {"hint/name entry beyond the image", nameTable, beyond + 0x100},
        {"DLL name beyond the image", descriptor + 12, beyond},
        {"import directory beyond the image", builder.ImportEntryOffset(), beyond},
    };
    for (const auto& damage : damages)
    {
        std::vector<uint8_t> image = good;
        CImageBuilder::Put32(image, damage.offset, damage.value);
        uint32_t slot = 0;
        EXPECT_FALSE(FindSlot(image, "KERNEL32.dll", "LoadLibraryA", slot)) << damage.what;
    }

    // A DLL name in the last bytes of the image with no terminator in it,
    // also within a bigger buffer: the image's SizeOfImage is its end.
    std::vector<uint8_t> image = good;
    const std::string name = "KERNEL32";
    const uint32_t last = CImageBuilder::kSizeOfImage - static_cast<uint32_t>(name.size());
    std::copy(name.begin(), name.end(), image.begin() + last);
    CImageBuilder::Put32(image, descriptor + 12, last);
    uint32_t slot = 0;
    EXPECT_FALSE(FindSlot(image, "KERNEL32.dll", "LoadLibraryA", slot));
    image.resize(image.size() + 0x1000, 0);
    EXPECT_FALSE(FindSlot(image, "KERNEL32.dll", "LoadLibraryA", slot));
    // A name that differs before the end is passed over: nothing is read beyond.
    EXPECT_TRUE(FindSlot(image, "USER32.dll", "LoadLibraryA", slot));

    // A descriptor array without terminator: the rest of the image filled
    // with descriptors all naming the DLL.
    image = good;
    for (uint32_t d = CImageBuilder::kAddressPage; d + 20 <= CImageBuilder::kSizeOfImage; d += 20)
        CImageBuilder::Put32(image, d + 12, dllName);
    CImageBuilder::Put32(image, builder.ImportEntryOffset(), CImageBuilder::kAddressPage);
    EXPECT_FALSE(FindSlot(image, "USER32.dll", "LoadLibraryA", slot));
}

INSTANTIATE_TEST_SUITE_P(Widths, ImportDirectoryTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "PE32Plus" : "PE32"; });

} // namespace
