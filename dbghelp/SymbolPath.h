#pragma once

#include <string>
#include <vector>

// A symbol search path split into its entries, in order. Entries are
// separated by ';'. "srv*a*b*c" and "symsrv*<dll>*a*b*c" name a chain of
// symbol stores whose first element is the downstream store when more than
// one is given (empty: the default store beside the library); "cache*dir"
// names a local cache that later store entries copy into; anything else is a
// plain directory.
class CSymbolPath
{
public:
    struct Entry
    {
        enum Kind
        {
            Directory,
            Server,
            Cache
        };
        Kind kind = Directory;
        // Directory and Cache: the directory (empty for "cache*": the default store).
        std::string directory;
        // Server: true when a downstream element was given (it may be empty).
        bool hasDownstream = false;
        std::string downstream;
        std::vector<std::string> upstreams;
    };

    explicit CSymbolPath(const std::string& text);

    const std::vector<Entry>& GetEntries() const { return m_entries; }

private:
    std::vector<Entry> m_entries;
};
