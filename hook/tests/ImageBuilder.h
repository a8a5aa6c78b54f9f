#pragma once
// Builds PE32 and PE32+ images as the loader maps them, with an import
// directory and nothing else, for the tests and the fuzzer's seeds.
// Layout: headers at 0, import descriptors, name tables and names on the page
// at 0x1000, import address tables on the page at 0x2000.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CImageBuilder
{
public:
    static constexpr uint32_t kImportPage = 0x1000;
    static constexpr uint32_t kAddressPage = 0x2000;
    static constexpr uint32_t kSizeOfImage = 0x3000;
    static constexpr uint32_t kNtHeaders = 0x40;

    explicit CImageBuilder(bool pe32Plus) : m_pe32Plus(pe32Plus) {}

    // Imports functions from dll; "#N" imports ordinal N.
    CImageBuilder& Import(const std::string& dll, const std::vector<std::string>& functions)
    {
        m_imports.push_back({dll, functions});
        return *this;
    }

    size_t ThunkSize() const { return m_pe32Plus ? 8 : 4; }
    // Where the optional header's import directory entry (RVA, then size) lies.
    uint32_t ImportEntryOffset() const { return kNtHeaders + 24 + (m_pe32Plus ? 112 : 96) + 8; }
    // The value the "loader" put in a slot, distinct for every slot.
    static uint64_t BoundAddress(size_t dll, size_t function) { return 0x10000000u + dll * 0x1000 + function * 0x10; }

    std::vector<uint8_t> Build()
    {
        std::vector<uint8_t> image(kSizeOfImage, 0);
        Put(image, 0, 0x5A4D, 2);
        Put32(image, 0x3C, kNtHeaders);
        Put32(image, kNtHeaders, 0x00004550);
        const uint32_t fileHeader = kNtHeaders + 4;
        Put(image, fileHeader, m_pe32Plus ? 0x8664 : 0x014C, 2);
        Put(image, fileHeader + 16, m_pe32Plus ? 240 : 224, 2);
        Put(image, fileHeader + 18, 0x2102, 2);
        const uint32_t optional = kNtHeaders + 24;
        Put(image, optional, m_pe32Plus ? 0x20B : 0x10B, 2);
        Put32(image, optional + 56, kSizeOfImage);
        Put32(image, optional + 60, 0x200);
        Put32(image, ImportEntryOffset() - 12, 16);
        Put32(image, ImportEntryOffset(), kImportPage);
        Put32(image, ImportEntryOffset() + 4, static_cast<uint32_t>((m_imports.size() + 1) * 20));

        uint32_t next = kImportPage + static_cast<uint32_t>((m_imports.size() + 1) * 20);
        uint32_t nextSlot = kAddressPage;
        m_descriptors.clear();
        m_addressTables.clear();
        for (size_t d = 0; d < m_imports.size(); ++d)
        {
            const std::vector<std::string>& functions = m_imports[d].functions;
            next = (next + 7) & ~7u;
            const uint32_t nameTable = next;
            next += static_cast<uint32_t>((functions.size() + 1) * ThunkSize());
            for (size_t f = 0; f < functions.size(); ++f)
            {
                uint64_t entry = 0;
                if (functions[f].compare(0, 1, "#") == 0)
                {
                    entry = std::stoul(functions[f].substr(1)) | (uint64_t(1) << (8 * ThunkSize() - 1));
                }
                else
                {
                    entry = next;
                    next += 2;
                    next = PutString(image, next, functions[f]);
                }
                Put(image, nameTable + static_cast<uint32_t>(f * ThunkSize()), entry, ThunkSize());
                Put(image, nextSlot + static_cast<uint32_t>(f * ThunkSize()), BoundAddress(d, f), ThunkSize());
            }
            const uint32_t descriptor = kImportPage + static_cast<uint32_t>(d * 20);
            Put32(image, descriptor, nameTable);
            Put32(image, descriptor + 12, next);
            next = PutString(image, next, m_imports[d].name);
            Put32(image, descriptor + 16, nextSlot);
            m_descriptors.push_back(descriptor);
            m_addressTables.push_back(nextSlot);
            nextSlot += static_cast<uint32_t>((functions.size() + 1) * ThunkSize());
        }
        return image;
    }

    // After Build: where each DLL's descriptor and import address table lie.
    uint32_t DescriptorRva(size_t dll) const { return m_descriptors.at(dll); }
    uint32_t SlotRva(size_t dll, size_t function) const
    {
        return m_addressTables.at(dll) + static_cast<uint32_t>(function * ThunkSize());
    }

    // Writes the low size bytes of value at offset, little-endian.
    static void Put(std::vector<uint8_t>& image, uint32_t offset, uint64_t value, size_t size)
    {
        for (size_t i = 0; i < size; ++i)
            image.at(offset + i) = static_cast<uint8_t>(value >> (8 * i));
    }
    static void Put32(std::vector<uint8_t>& image, uint32_t offset, uint32_t value) { Put(image, offset, value, 4); }

private:
    struct Dll
    {
        std::string name;
        std::vector<std::string> functions;
    };

    static uint32_t PutString(std::vector<uint8_t>& image, uint32_t offset, const std::string& text)
    {
        for (size_t i = 0; i < text.size(); ++i)
            image.at(offset + i) = static_cast<uint8_t>(text[i]);
        image.at(offset + text.size()) = 0;
        return offset + static_cast<uint32_t>(text.size()) + 1;
    }

    bool m_pe32Plus;
    std::vector<Dll> m_imports;
    std::vector<uint32_t> m_descriptors;
    std::vector<uint32_t> m_addressTables;
};
