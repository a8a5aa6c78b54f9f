#pragma once

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

// One fetch per key at a time: while one thread fetches a symbol file from a
// store, another that asks for the same file from the same store waits for
// it and takes its result instead of downloading it again. Keys are compared
// without regard to case, as symbol stores name files. Safe to use from
// several threads.
class CSingleFlight
{
public:
    using Work = std::function<std::string()>;

    // Runs work for key, or, when another thread is running work for the
    // same key, waits for it and returns its result (shared then true).
    std::string Run(const std::string& key, const Work& work, bool& shared);

private:
    struct Flight
    {
        bool done = false;
        std::string result;
    };

    std::mutex m_lock;
    std::condition_variable m_landed;
    std::map<std::string, std::shared_ptr<Flight>> m_flights;
};
