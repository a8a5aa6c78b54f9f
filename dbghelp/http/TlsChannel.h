#pragma once
#include <windows.h>
#define SECURITY_WIN32
#include <security.h>
#include <schannel.h>

#include <string>
#include <vector>

#include "HttpIo.h"

class CTcpSocket;

// TLS on a connected socket through the platform's Schannel (SSPI): the
// client side of the handshake, then records encrypted and decrypted in our
// own buffers, so that every wait stays the socket's bounded one. The
// server's certificate is checked by CServerCertificate, never by Schannel on
// its own, so that the check and its diagnostics are the same on every
// system, and it is checked again after any renegotiation.
class CTlsChannel
{
public:
    explicit CTlsChannel(CTcpSocket& socket);
    ~CTlsChannel();
    CTlsChannel(const CTlsChannel&) = delete;
    CTlsChannel& operator=(const CTlsChannel&) = delete;

    // Negotiates TLS for host (also sent as the server name) and checks the
    // server's certificate for it. Refused with the reason in why when the
    // handshake fails or the certificate is refused; the socket's own
    // results (TimedOut, TooSlow, Closed, Error) otherwise.
    HttpIo Handshake(const std::string& host, std::string& why);
    // Encrypts and sends all of size bytes.
    HttpIo Send(const char* data, size_t size);
    // Up to size decrypted bytes (got > 0 on Ok). Closed once the server has
    // sent its close_notify; Truncated when the connection ends without one;
    // Refused, with the reason in Why(), when a record cannot be decrypted or
    // a renegotiation fails.
    HttpIo Receive(char* buffer, size_t size, size_t& got);

    // Bytes received or decrypted but not yet handed out, or the server's
    // close_notify: a kept connection in this state is not idle.
    bool HasPending() const { return m_incomingUsed > 0 || m_plainBegin < m_plain.size() || m_closeNotified; }

    // The reason of the last Refused result of Receive.
    const std::string& Why() const { return m_why; }

private:
    // Runs the handshake (or a renegotiation) on the bytes already in
    // m_incoming and those that follow, then checks the certificate.
    HttpIo Negotiate(std::string& why);
    HttpIo VerifyCertificate(std::string& why);
    // Receives more encrypted bytes after those in m_incoming.
    HttpIo ReadMore();
    // Keeps only the last count bytes of m_incoming (an SSPI "extra" buffer).
    void KeepLast(size_t count);
    // Decrypts the next record in m_incoming into the caller's buffer (the
    // rest into m_plain); NeedMore when no whole record is there yet.
    enum class Decrypted
    {
        Data,
        NeedMore,
        Closed,
        Renegotiate,
        Failed
    };
    Decrypted DecryptRecord(char* buffer, size_t size, size_t& got);
    // Why the bytes received so far cannot be TLS; empty when they may be.
    std::string NotTlsText() const;
    // After a failed handshake: "certificate refused: " and why, when the
    // certificate the server sent explains the failure; otherwise empty.
    std::string CertificateFaultText();
    static std::string StatusText(SECURITY_STATUS status);

    CTcpSocket& m_socket;
    std::string m_host;
    CredHandle m_credentials = {};
    bool m_hasCredentials = false;
    CtxtHandle m_context = {};
    bool m_hasContext = false;
    SecPkgContext_StreamSizes m_sizes = {};
    std::vector<char> m_incoming; // encrypted bytes received, not yet decrypted
    size_t m_incomingUsed = 0;
    std::vector<char> m_plain; // decrypted bytes the caller had no room for
    size_t m_plainBegin = 0;
    bool m_closeNotified = false;
    std::string m_why;
};
