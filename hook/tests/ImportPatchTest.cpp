#include "ImportHook.h"
#include "ImportPatch.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "ImageBuilder.h"
#include "TestSupport.h"

namespace
{

constexpr bool kNativeIsPe32Plus = sizeof(void*) == 8;

// A built image copied into pages of its own, as the loader would map it.
class CMappedImage
{
public:
    explicit CMappedImage(const std::vector<uint8_t>& bytes)
        : m_base(static_cast<uint8_t*>(VirtualAlloc(nullptr, bytes.size(), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)))
    {
        if (m_base != nullptr)
            std::memcpy(m_base, bytes.data(), bytes.size());
    }
    ~CMappedImage()
    {
        if (m_base != nullptr)
            VirtualFree(m_base, 0, MEM_RELEASE);
    }
    HMODULE Module() const { return reinterpret_cast<HMODULE>(m_base); }
    void* Slot(uint32_t rva) const { return *reinterpret_cast<void**>(m_base + rva); }
    ImportSlot* SlotAddress(uint32_t rva) const { return reinterpret_cast<ImportSlot*>(m_base + rva); }
    DWORD Protection(uint32_t rva) const
    {
        MEMORY_BASIC_INFORMATION page = {};
        VirtualQuery(m_base + rva, &page, sizeof(page));
        return page.Protect;
    }
    bool Protect(uint32_t rva, DWORD protection) const
    {
        DWORD old = 0;
        return VirtualProtect(m_base + rva, 1, protection, &old) != FALSE;
    }

private:
    uint8_t* m_base;
};

void* Bound(size_t dll, size_t function)
{
    return reinterpret_cast<void*>(static_cast<ULONG_PTR>(CImageBuilder::BoundAddress(dll, function)));
}

int g_replacementTarget;
void* const kReplacement = &g_replacementTarget;

class ImportPatchTest : public ::testing::Test
{
protected:
    ImportPatchTest() : m_builder(kNativeIsPe32Plus)
    {
        m_builder.Import("USER32.dll", {"MessageBoxA"})
            .Import("KERNEL32.dll", {"#7", "GetVersion", "LoadLibraryA", "LoadLibraryA"});
        m_image.reset(new CMappedImage(m_builder.Build()));
    }
    uint32_t Slot(size_t function) const { return m_builder.SlotRva(1, function); }
    // Every slot of the KERNEL32 table holds what the loader put there, but
    // for the one given (none: -1).
    void ExpectSlotsBoundExcept(int patched) const
    {
        for (int f = 0; f < 4; ++f)
        {
            if (f != patched)
            {
                EXPECT_EQ(Bound(1, f), m_image->Slot(Slot(f))) << f;
            }
        }
    }

    CImageBuilder m_builder;
    std::unique_ptr<CMappedImage> m_image;
};

TEST_F(ImportPatchTest, PatchesTheFirstOfTwoSameNameImportsAndNothingForAMissingOne)
{
    for (const char* dll : {"KERNEL32.dll", "ADVAPI32.dll"})
    {
        CImportHook hook(m_image->Module(), dll, "WaitForDebugEvent", kReplacement);
        EXPECT_EQ(0u, hook.GetError());
        EXPECT_FALSE(hook.IsInstalled());
        EXPECT_EQ(nullptr, hook.GetSavedAddress());
    }
    IMAGE_IMPORT_DESCRIPTOR* descriptor = nullptr;
    ASSERT_TRUE(FindImportDescriptor(m_image->Module(), "user32.dll", &descriptor));
    EXPECT_EQ(reinterpret_cast<uint8_t*>(m_image->Module()) + m_builder.DescriptorRva(0),
              reinterpret_cast<uint8_t*>(descriptor));
    ExpectSlotsBoundExcept(-1);

    void* saved = nullptr;
    ImportSlot* slot = nullptr;
    SetLastError(ERROR_GEN_FAILURE);
    ASSERT_TRUE(PatchImportByName(m_image->Module(), "kernel32.DLL", "loadLIBRARYa", kReplacement, &saved, &slot));
    EXPECT_EQ(0u, GetLastError());
    EXPECT_EQ(Bound(1, 2), saved);
    EXPECT_EQ(m_image->SlotAddress(Slot(2)), slot);
    EXPECT_EQ(kReplacement, m_image->Slot(Slot(2)));
    ExpectSlotsBoundExcept(2);
}

TEST_F(ImportPatchTest, RefusesBadArgumentsAndDamagedImagesWith87)
{
    void* saved = nullptr;
    HMODULE module = m_image->Module();
    EXPECT_FALSE(PatchImportByName(nullptr, "KERNEL32.dll", "LoadLibraryA", kReplacement, &saved, nullptr));
    EXPECT_EQ(87u, GetLastError());
    EXPECT_FALSE(PatchImportByName(module, nullptr, "LoadLibraryA", kReplacement, &saved, nullptr));
    EXPECT_FALSE(PatchImportByName(module, "KERNEL32.dll", nullptr, kReplacement, &saved, nullptr));
    EXPECT_FALSE(PatchImportByName(module, "KERNEL32.dll", "LoadLibraryA", nullptr, &saved, nullptr));
    EXPECT_FALSE(PatchImportByName(module, "KERNEL32.dll", "LoadLibraryA", kReplacement, nullptr, nullptr));
    EXPECT_EQ(87u, GetLastError());
    void* slots[2] = {};
    EXPECT_FALSE(WriteImportSlot(nullptr, kReplacement));
    EXPECT_EQ(87u, GetLastError());
    EXPECT_FALSE(WriteImportSlot(reinterpret_cast<ImportSlot*>(reinterpret_cast<uint8_t*>(slots) + 1), kReplacement));
    EXPECT_TRUE(WriteImportSlot(&slots[1], kReplacement));
    EXPECT_EQ(kReplacement, slots[1]);

    CMappedImage otherWidth(CImageBuilder(!kNativeIsPe32Plus).Import("KERNEL32.dll", {"LoadLibraryA"}).Build());
    EXPECT_EQ(87u, CImportHook(otherWidth.Module(), "KERNEL32.dll", "LoadLibraryA", kReplacement).GetError());

    uint8_t* base = reinterpret_cast<uint8_t*>(module);
    const struct
    {
        const char* what;
        uint32_t offset;
        uint32_t value;
    } damages[] = {
        {"DOS signature", 0, 0x4D5A},
        {"NT signature", CImageBuilder::kNtHeaders, 0x4551},
        {"no import name table", m_builder.DescriptorRva(1), 0},
        {"name beyond SizeOfImage", m_builder.DescriptorRva(1) + 12, CImageBuilder::kSizeOfImage + 8},
    };
    for (const auto& damage : damages)
    {
        uint32_t* field = reinterpret_cast<uint32_t*>(base + damage.offset);
        const uint32_t good = *field;
        *field = damage.value;
        CImportHook hook(module, "KERNEL32.dll", "LoadLibraryA", kReplacement);
        EXPECT_EQ(87u, hook.GetError()) << damage.what;
        EXPECT_FALSE(hook.IsInstalled()) << damage.what;
        *field = good;
    }
    ExpectSlotsBoundExcept(-1);
}

TEST_F(ImportPatchTest, DeletingRestoresTheSlotUnlessDetachedAndARehookSavesTheRealFunction)
{
    {
        CImportHook hook(m_image->Module(), "KERNEL32.dll", "LoadLibraryA", kReplacement);
        ASSERT_TRUE(hook.IsInstalled());
        EXPECT_EQ(Bound(1, 2), hook.GetSavedAddress());
        EXPECT_EQ(kReplacement, m_image->Slot(Slot(2)));
    }
    ExpectSlotsBoundExcept(-1);
    {
        CImportHook hook(m_image->Module(), "KERNEL32.dll", "LoadLibraryA", kReplacement);
        hook.Detach();
    }
    EXPECT_EQ(kReplacement, m_image->Slot(Slot(2)));

    // The slot leads to the replacement already, as in a module loaded again
    // without being unloaded: the replacement must not be saved as the function.
    CImportHook again(m_image->Module(), "KERNEL32.DLL", "LoadLibraryA", kReplacement);
    ASSERT_TRUE(again.IsInstalled());
    EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("KERNEL32.DLL"), "LoadLibraryA")),
              again.GetSavedAddress());
    EXPECT_EQ(kReplacement, m_image->Slot(Slot(2)));
}

TEST_F(ImportPatchTest, PatchesReadOnlyImportTablesPuttingTheProtectionBackButNeverTouchesAGuardPage)
{
    // lld puts the import address table in read-only .rdata; a linker that
    // merges it into .text makes it executable too.
    for (DWORD protection : {DWORD(PAGE_READONLY), DWORD(PAGE_EXECUTE_READ)})
    {
        ASSERT_TRUE(m_image->Protect(CImageBuilder::kImportPage, protection));
        ASSERT_TRUE(m_image->Protect(CImageBuilder::kAddressPage, protection));
        {
            CImportHook hook(m_image->Module(), "KERNEL32.dll", "GetVersion", kReplacement);
            ASSERT_TRUE(hook.IsInstalled()) << hook.GetError();
            EXPECT_EQ(kReplacement, m_image->Slot(Slot(1)));
            EXPECT_EQ(protection, m_image->Protection(CImageBuilder::kAddressPage));
        }
        EXPECT_EQ(Bound(1, 1), m_image->Slot(Slot(1)));
        EXPECT_EQ(protection, m_image->Protection(CImageBuilder::kAddressPage));
        EXPECT_EQ(protection, m_image->Protection(CImageBuilder::kImportPage));
    }

    ASSERT_TRUE(m_image->Protect(CImageBuilder::kAddressPage, PAGE_READWRITE | PAGE_GUARD));
    CImportHook hook(m_image->Module(), "KERNEL32.dll", "GetVersion", kReplacement);
    EXPECT_EQ(87u, hook.GetError());
    // Still armed: nothing read the page.
    EXPECT_EQ(DWORD(PAGE_READWRITE | PAGE_GUARD), m_image->Protection(CImageBuilder::kAddressPage));
}

// What WriteImportSlot's protection changes, made through this program's
// import of VirtualProtect, leave on the slot's page and on the page before.
CImportHook* g_virtualProtect = nullptr;
const CMappedImage* g_watchedImage = nullptr;
std::vector<std::pair<DWORD, DWORD>> g_protectionsSeen;

BOOL WINAPI WatchedVirtualProtect(LPVOID address, SIZE_T size, DWORD protection, PDWORD old)
{
    const BOOL result = reinterpret_cast<decltype(&VirtualProtect)>(g_virtualProtect->GetSavedAddress())(
        address, size, protection, old);
    if (g_watchedImage != nullptr)
        g_protectionsSeen.emplace_back(g_watchedImage->Protection(CImageBuilder::kAddressPage),
                                       g_watchedImage->Protection(CImageBuilder::kImportPage));
    return result;
}

TEST_F(ImportPatchTest, SlotWriteChangesOnlyTheSlotsPageAndKeepsItExecutable)
{
    // An import table that shares executable pages with code: while the slot
    // is written, another thread may be running the rest of its page or the
    // pages around it.
    ASSERT_TRUE(m_image->Protect(CImageBuilder::kImportPage, PAGE_EXECUTE_READ));
    ASSERT_TRUE(m_image->Protect(CImageBuilder::kAddressPage, PAGE_EXECUTE_READ));
    CImportHook watch(GetModuleHandleA(nullptr), "KERNEL32.dll", "VirtualProtect",
                      reinterpret_cast<void*>(&WatchedVirtualProtect));
    ASSERT_TRUE(watch.IsInstalled()) << watch.GetError();
    g_virtualProtect = &watch;
    g_protectionsSeen.clear();
    g_watchedImage = m_image.get();
    const BOOL written = WriteImportSlot(m_image->SlotAddress(Slot(1)), kReplacement);
    g_watchedImage = nullptr;

    ASSERT_TRUE(written);
    EXPECT_EQ(kReplacement, m_image->Slot(Slot(1)));
    ASSERT_FALSE(g_protectionsSeen.empty());
    for (const auto& seen : g_protectionsSeen)
    {
        EXPECT_NE(0u, seen.first & (PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE)) << seen.first;
        EXPECT_EQ(DWORD(PAGE_EXECUTE_READ), seen.second);
    }
    EXPECT_EQ(DWORD(PAGE_EXECUTE_READ), m_image->Protection(CImageBuilder::kAddressPage));
}

unsigned g_countedLoads;
HMODULE WINAPI CountingLoad(LPCSTR)
{
    ++g_countedLoads;
    return nullptr;
}

TEST(LldLinkedModuleTest, ItsReadOnlyImportTableIsPatchedAndStaysReadOnly)
{
    HMODULE probe = LoadLibraryA((ExeDirectory() + "lld_import_probe.dll").c_str());
    ASSERT_NE(nullptr, probe);
    typedef HMODULE(__cdecl * ProbeLoadProc)(const char*);
    ProbeLoadProc probeLoad =
        reinterpret_cast<ProbeLoadProc>(reinterpret_cast<void*>(GetProcAddress(probe, "ProbeLoad")));
    ASSERT_NE(nullptr, probeLoad);

    void* saved = nullptr;
    ImportSlot* slot = nullptr;
    ASSERT_TRUE(PatchImportByName(probe, "KERNEL32.DLL", "LoadLibraryA", reinterpret_cast<void*>(&CountingLoad), &saved,
                                  &slot));
    MEMORY_BASIC_INFORMATION page = {};
    ASSERT_TRUE(VirtualQuery(slot, &page, sizeof(page)));
    EXPECT_EQ(DWORD(PAGE_READONLY), page.Protect);
    EXPECT_EQ(nullptr, probeLoad("version.dll"));
    EXPECT_EQ(1u, g_countedLoads);

    ASSERT_TRUE(WriteImportSlot(slot, saved));
    HMODULE version = probeLoad("version.dll");
    EXPECT_NE(nullptr, version);
    EXPECT_EQ(1u, g_countedLoads);
    FreeLibrary(version);
    FreeLibrary(probe);
}

} // namespace
