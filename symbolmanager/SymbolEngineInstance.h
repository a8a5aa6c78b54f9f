#pragma once
#include "SymbolEngine.h"

// The process's one symbol engine: constructed before the server's entry
// point runs and destroyed after it returns. Every SymbolManager object
// works through it.
CSymbolEngine& GetSymbolEngine();
