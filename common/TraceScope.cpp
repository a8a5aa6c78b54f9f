#include "TraceScope.h"

#include "Trace.h"

CTraceScope::CTraceScope(const char* name, int level) : m_name(name), m_level(level), m_savedEnable(TraceIsEnabled())
{
    TraceMessage(TRACE_INFO, m_level, "{ %s", m_name);
    TraceAddNesting(3);
}

CTraceScope::~CTraceScope()
{
    TraceEnable(m_savedEnable);
    TraceAddNesting(-3);
    if (m_name != nullptr)
        TraceMessage(TRACE_INFO, m_level, "} %s", m_name);
}
