#include "StringVecToString.h"

#include "Trace.h"
#include "TraceScope.h"

void StringVecToString(const std::vector<std::string>& Vec, std::string& Output)
{
    CTraceScope scope("StringVecToString()\n", 0);
    Output.clear();
    TraceMessage(TRACE_INFO, 0, "Vector size: %u\n", static_cast<unsigned>(Vec.size()));
    for (const std::string& item : Vec)
    {
        TraceMessage(TRACE_INFO, 0, "VecItem: %s\n", item.c_str());
        Output += item;
    }
}
