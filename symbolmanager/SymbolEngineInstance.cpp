#include "SymbolEngineInstance.h"

namespace
{
CSymbolEngine g_engine;
}

CSymbolEngine& GetSymbolEngine()
{
    return g_engine;
}
