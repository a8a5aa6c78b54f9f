// Writes valid sample files into the seed corpus directories of the fuzz
// targets, using the builders of the unit tests: pe/, dbg/, pdb/, codeview/,
// cab/, ptr/.
#include <cstdio>
#include <string>

#include "CabinetBuilder.h"
#include "FormatBuilders.h"

namespace
{
bool Write(const std::string& path, const Bytes& bytes)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: %s <corpus root>\n", argv[0]);
        return 2;
    }
    const std::string root = argv[1];
    bool ok = true;

    const Bytes records[] = {MakeRsds(kTestGuid, 1, "app.pdb"), MakeNb10(0x3A1B2C3D, 2, "c:\\src\\app.pdb"),
                             MakeEmbeddedCodeView("NB09"), MakeEmbeddedCodeView("NB11")};
    for (size_t i = 0; i < sizeof(records) / sizeof(records[0]); ++i)
        ok &= Write(root + "/codeview/seed" + std::to_string(i), records[i]);

    PeSpec pe;
    pe.exports = true;
    pe.fileHeaderSymbols = 2;
    pe.debug.push_back(DebugEntrySpec{2, records[1]});
    ok &= Write(root + "/pe/nb10", BuildPe(pe).bytes);
    pe.debug[0] = DebugEntrySpec{2, records[0]};
    pe.debug.push_back(DebugEntrySpec{1, MakeCoffSymbols(2)});
    ok &= Write(root + "/pe/rsds", BuildPe(pe).bytes);
    pe.magic = 0x20b;
    ok &= Write(root + "/pe/rsds64", BuildPe(pe).bytes);
    PeSpec stripped;
    stripped.characteristics |= 0x0200;
    stripped.debug.push_back(DebugEntrySpec{4, MakeMiscExeName("app.dbg", false)});
    stripped.debug.push_back(DebugEntrySpec{4, MakeMiscExeName("app.dbg", true)});
    stripped.debug.push_back(DebugEntrySpec{2, records[2], true});
    ok &= Write(root + "/pe/stripped", BuildPe(stripped).bytes);

    ok &= Write(root + "/dbg/nb11",
                BuildDbg({DebugEntrySpec{1, MakeCoffSymbols(3)}, DebugEntrySpec{2, records[3]}}).bytes);
    ok &= Write(root + "/dbg/nb10", BuildDbg({DebugEntrySpec{2, records[1]}}).bytes);

    ok &= Write(root + "/pdb/msf7", BuildPdb(7, 512, StandardStreams(20000404, true)).bytes);
    ok &= Write(root + "/pdb/msf2", BuildPdb(2, 1024, StandardStreams(19970604, false)).bytes);

    CabinetSpec cabinet;
    cabinet.content = PatternBytes(3000);
    cabinet.blockSize = 1024;
    ok &= Write(root + "/cab/mszip", BuildCabinet(cabinet).bytes);
    cabinet.compression = 0;
    cabinet.checksums = false;
    ok &= Write(root + "/cab/stored", BuildCabinet(cabinet).bytes);
    cabinet.headerReserve = 6;
    cabinet.blockReserve = 2;
    ok &= Write(root + "/cab/reserved", BuildCabinet(cabinet).bytes);
    ok &= Write(root + "/cab/overexpanding", BuildOverExpandingCabinet().bytes);

    const std::string pointers[] = {"PATH:\\\\server\\share\\app.pdb\\12\\app.pdb\r\n", "MSG:withdrawn\n",
                                    "\xEF\xBB\xBFpath: C:\\sym\\a.pdb "};
    for (size_t i = 0; i < sizeof(pointers) / sizeof(pointers[0]); ++i)
        ok &= Write(root + "/ptr/seed" + std::to_string(i), Bytes(pointers[i].begin(), pointers[i].end()));
    return ok ? 0 : 1;
}
