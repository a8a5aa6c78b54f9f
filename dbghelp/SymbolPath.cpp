#include "SymbolPath.h"

#include "PathSplit.h"

namespace
{
std::string Trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;)
    {
        const size_t at = text.find(separator, start);
        parts.push_back(Trim(text.substr(start, at == std::string::npos ? std::string::npos : at - start)));
        if (at == std::string::npos)
            return parts;
        start = at + 1;
    }
}

bool StartsWithNoCase(const std::string& text, const char* prefix)
{
    const std::string head = text.substr(0, std::string(prefix).size());
    return EqualNoCase(head, prefix);
}
} // namespace

CSymbolPath::CSymbolPath(const std::string& text)
{
    for (const std::string& element : Split(text, ';'))
    {
        if (element.empty())
            continue;
        Entry entry;
        std::vector<std::string> stores;
        if (StartsWithNoCase(element, "srv*"))
        {
            entry.kind = Entry::Server;
            stores = Split(element.substr(4), '*');
        }
        else if (StartsWithNoCase(element, "symsrv*"))
        {
            entry.kind = Entry::Server;
            stores = Split(element.substr(7), '*');
            // The first element names the server DLL; the stores follow it.
            if (!stores.empty())
                stores.erase(stores.begin());
        }
        else if (StartsWithNoCase(element, "cache*"))
        {
            entry.kind = Entry::Cache;
            entry.directory = element.substr(6);
            m_entries.push_back(entry);
            continue;
        }
        else
        {
            entry.directory = element;
            m_entries.push_back(entry);
            continue;
        }

        if (stores.size() > 1)
        {
            entry.hasDownstream = true;
            entry.downstream = stores[0];
            stores.erase(stores.begin());
        }
        for (const std::string& store : stores)
        {
            if (!store.empty())
                entry.upstreams.push_back(store);
        }
        if (!entry.upstreams.empty() || entry.hasDownstream)
            m_entries.push_back(entry);
    }
}
