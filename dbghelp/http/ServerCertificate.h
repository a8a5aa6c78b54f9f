#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <string>

// The certificate a TLS server presented, and the check that decides whether
// it may be trusted for a host name: its chain must end in one of the
// system's trusted root certificates, every certificate in it must be valid
// now and the server's meant for server authentication, and it must name the
// host. Revocation is not checked, and no missing certificate is fetched:
// both would mean network waits outside our bounds.
class CServerCertificate
{
public:
    // Takes ownership of certificate (may be null: no certificate).
    explicit CServerCertificate(PCCERT_CONTEXT certificate);
    ~CServerCertificate();
    CServerCertificate(const CServerCertificate&) = delete;
    CServerCertificate& operator=(const CServerCertificate&) = delete;

    // True when the certificate may be trusted for host; otherwise false
    // with the reason, as a diagnostic shows it, in why.
    bool Verify(const std::string& host, std::string& why) const;
    // Why the certificate's key usage keeps it from serving TLS (the reason
    // as a diagnostic shows it), or empty when it does not.
    std::string KeyUsageText() const;

private:
    static std::string ChainErrorText(DWORD status);
    static std::string PolicyErrorText(LONG error, const std::string& host);
    std::string UsageErrorText(PCCERT_CHAIN_CONTEXT chain) const;

    PCCERT_CONTEXT m_certificate;
};
