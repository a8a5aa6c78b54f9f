#include <winsock2.h>

#include "HttpConnection.h"

#include <cstring>

#include "TlsChannel.h"

CHttpConnection::CHttpConnection(DWORD timeoutMs, const CLowSpeedGuard& lowSpeed)
    : m_socket(timeoutMs, lowSpeed), m_buffer(kBufferSize)
{
}

CHttpConnection::~CHttpConnection() = default;

HttpIo CHttpConnection::Open(const std::string& host, unsigned port, CHostResolver& resolver, std::string& why)
{
    return m_socket.Open(host, port, resolver, why);
}

HttpIo CHttpConnection::StartTls(const std::string& host, std::string& why)
{
    if (m_begin != m_end)
    {
        why = "bytes arrived before the TLS handshake";
        return HttpIo::Refused;
    }
    m_tls.reset(new CTlsChannel(m_socket));
    const HttpIo io = m_tls->Handshake(host, why);
    if (io == HttpIo::Refused)
        m_why = why;
    return io;
}

HttpIo CHttpConnection::Send(const std::string& bytes)
{
    if (!m_tls)
        return m_socket.Send(bytes.data(), bytes.size());
    const HttpIo io = m_tls->Send(bytes.data(), bytes.size());
    if (io == HttpIo::Refused)
        m_why = m_tls->Why();
    return io;
}

HttpIo CHttpConnection::ReadHead(std::string& head)
{
    size_t scanned = m_begin;
    for (;;)
    {
        for (; scanned < m_end; ++scanned)
        {
            if (m_buffer[scanned] != '\n')
                continue;
            size_t next = scanned + 1;
            if (next < m_end && m_buffer[next] == '\r')
                ++next;
            if (next < m_end && m_buffer[next] == '\n')
            {
                head.assign(&m_buffer[m_begin], next + 1 - m_begin);
                m_begin = next + 1;
                return HttpIo::Ok;
            }
            if (next + 1 > m_end)
                break; // the head may end in bytes not yet received
        }
        if (m_end - m_begin >= kMaxHeadBytes)
            return HttpIo::TooLong;
        const HttpIo io = FillKeeping(scanned);
        if (io != HttpIo::Ok)
            return io;
    }
}

HttpIo CHttpConnection::ReadLine(std::string& line, size_t maxLength)
{
    size_t scanned = m_begin;
    for (;;)
    {
        for (; scanned < m_end; ++scanned)
        {
            if (m_buffer[scanned] == '\n')
            {
                size_t length = scanned - m_begin;
                if (length > 0 && m_buffer[scanned - 1] == '\r')
                    --length;
                line.assign(&m_buffer[m_begin], length);
                m_begin = scanned + 1;
                return HttpIo::Ok;
            }
        }
        if (m_end - m_begin > maxLength + 1)
            return HttpIo::TooLong;
        const HttpIo io = FillKeeping(scanned);
        if (io != HttpIo::Ok)
            return io;
    }
}

HttpIo CHttpConnection::Take(size_t maxCount, const char*& data, size_t& count)
{
    if (m_begin == m_end)
    {
        const HttpIo io = Fill();
        if (io != HttpIo::Ok)
            return io;
    }
    count = m_end - m_begin < maxCount ? m_end - m_begin : maxCount;
    data = &m_buffer[m_begin];
    m_begin += count;
    return HttpIo::Ok;
}

HttpIo CHttpConnection::FillKeeping(size_t& scanned)
{
    const size_t offset = scanned - m_begin;
    const HttpIo io = Fill();
    scanned = m_begin + offset;
    return io;
}

HttpIo CHttpConnection::Fill()
{
    if (m_begin == m_end)
    {
        m_begin = 0;
        m_end = 0;
    }
    else if (m_end == m_buffer.size())
    {
        memmove(&m_buffer[0], &m_buffer[m_begin], m_end - m_begin);
        m_end -= m_begin;
        m_begin = 0;
    }
    if (m_end == m_buffer.size())
        return HttpIo::TooLong;
    size_t got = 0;
    HttpIo io = HttpIo::Ok;
    if (m_tls)
    {
        io = m_tls->Receive(&m_buffer[m_end], m_buffer.size() - m_end, got);
        if (io == HttpIo::Refused)
            m_why = m_tls->Why();
    }
    else
    {
        io = m_socket.Receive(&m_buffer[m_end], m_buffer.size() - m_end, got);
    }
    if (io == HttpIo::Ok)
    {
        m_end += got;
        m_arrived += got;
    }
    return io;
}

bool CHttpConnection::IsIdleUsable() const
{
    return m_begin == m_end && (!m_tls || !m_tls->HasPending()) && !m_socket.HasPendingInput();
}
