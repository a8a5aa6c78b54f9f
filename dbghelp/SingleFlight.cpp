#include "SingleFlight.h"

#include "HttpText.h"

std::string CSingleFlight::Run(const std::string& key, const Work& work, bool& shared)
{
    const std::string folded = CHttpText::LowerCase(key);
    std::shared_ptr<Flight> flight;
    {
        std::unique_lock<std::mutex> hold(m_lock);
        const auto found = m_flights.find(folded);
        if (found != m_flights.end())
        {
            shared = true;
            flight = found->second;
            m_landed.wait(hold, [&] { return flight->done; });
            return flight->result;
        }
        flight = std::make_shared<Flight>();
        m_flights[folded] = flight;
    }
    shared = false;
    std::string result;
    try
    {
        result = work();
    }
    catch (...)
    {
        // Nothing may reach the caller; the waiters see no file.
        result.clear();
    }
    std::lock_guard<std::mutex> hold(m_lock);
    flight->done = true;
    flight->result = result;
    m_flights.erase(folded);
    m_landed.notify_all();
    return result;
}
