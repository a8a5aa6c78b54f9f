#pragma once

// Traces "{ name" when an operation starts and "} name" when it ends, and
// indents every line traced in between by three more blanks. The enable switch
// is put back as it was when the scope opened.
class CTraceScope
{
public:
    // name: constant text such as "CSymbolEngine::Init()\n"; it must outlive the scope.
    CTraceScope(const char* name, int level);
    ~CTraceScope();

    CTraceScope(const CTraceScope&) = delete;
    CTraceScope& operator=(const CTraceScope&) = delete;

private:
    const char* m_name;
    int m_level;
    int m_savedEnable;
};
