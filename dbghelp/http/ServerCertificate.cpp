#include "ServerCertificate.h"

#include <cstdio>

namespace
{

// Owns a chain context.
class CChain
{
public:
    CChain() = default;
    ~CChain()
    {
        if (m_chain != nullptr)
            CertFreeCertificateChain(m_chain);
    }
    CChain(const CChain&) = delete;
    CChain& operator=(const CChain&) = delete;
    PCCERT_CHAIN_CONTEXT* Receive() { return &m_chain; }
    PCCERT_CHAIN_CONTEXT Get() const { return m_chain; }

private:
    PCCERT_CHAIN_CONTEXT m_chain = nullptr;
};

std::string Hex(unsigned long value)
{
    char text[16];
    snprintf(text, sizeof(text), "0x%08lx", value);
    return text;
}

// The certificate's common name, for a diagnostic.
std::string NameOf(PCCERT_CONTEXT certificate)
{
    char name[256] = "";
    CertGetNameStringA(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, sizeof(name));
    return name;
}

// False only when the certificate's basic constraints say it is no CA (an
// old certificate without them is judged by the chain engine alone).
bool MayBeAuthority(PCCERT_CONTEXT certificate)
{
    const CERT_INFO& info = *certificate->pCertInfo;
    PCERT_EXTENSION extension = CertFindExtension(szOID_BASIC_CONSTRAINTS2, info.cExtension, info.rgExtension);
    CERT_BASIC_CONSTRAINTS2_INFO constraints = {};
    DWORD size = sizeof(constraints);
    if (extension == nullptr || !CryptDecodeObject(X509_ASN_ENCODING, X509_BASIC_CONSTRAINTS2, extension->Value.pbData,
                                                   extension->Value.cbData, 0, &constraints, &size))
        return true;
    return constraints.fCA != FALSE;
}

// The key usage bits, or false when the certificate does not restrict them.
bool KeyUsageOf(PCCERT_CONTEXT certificate, BYTE& usage)
{
    usage = 0;
    return CertGetIntendedKeyUsage(X509_ASN_ENCODING, certificate->pCertInfo, &usage, 1) != FALSE;
}

// Error bits of a chain that say nothing against it when revocation was not
// asked about.
const DWORD kRevocationBits = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

} // namespace

CServerCertificate::CServerCertificate(PCCERT_CONTEXT certificate) : m_certificate(certificate)
{
}

CServerCertificate::~CServerCertificate()
{
    if (m_certificate != nullptr)
        CertFreeCertificateContext(m_certificate);
}

std::string CServerCertificate::ChainErrorText(DWORD status)
{
    if (status & CERT_TRUST_IS_UNTRUSTED_ROOT)
        return "its root certificate is not one this system trusts";
    if (status & CERT_TRUST_IS_PARTIAL_CHAIN)
        return "its chain does not lead to a root certificate this system trusts";
    if (status & CERT_TRUST_IS_NOT_TIME_VALID)
        return "it or a certificate in its chain has expired or is not valid yet";
    if (status & CERT_TRUST_IS_REVOKED)
        return "a certificate in its chain has been revoked";
    if (status & CERT_TRUST_IS_NOT_SIGNATURE_VALID)
        return "a signature in its chain is not valid";
    if (status & CERT_TRUST_IS_NOT_VALID_FOR_USAGE)
        return "it is not meant for server authentication";
    return "its chain is not valid (trust status " + Hex(status) + ")";
}

std::string CServerCertificate::KeyUsageText() const
{
    BYTE usage = 0;
    if (m_certificate == nullptr || !KeyUsageOf(m_certificate, usage))
        return std::string();
    // A TLS server signs its key exchange, or decrypts the client's secret
    // (RSA key exchange): its key must be allowed one of the two.
    if ((usage & (CERT_DIGITAL_SIGNATURE_KEY_USAGE | CERT_KEY_ENCIPHERMENT_KEY_USAGE)) == 0)
        return "its key usage allows neither digital signatures nor key encipherment, so not TLS server "
               "authentication";
    return std::string();
}

std::string CServerCertificate::UsageErrorText(PCCERT_CHAIN_CONTEXT chain) const
{
    // The chain engine sums up an issuer that is no CA as a usage error:
    // name the certificate at fault.
    if (chain->cChain > 0)
    {
        const CERT_SIMPLE_CHAIN& simple = *chain->rgpChain[0];
        for (DWORD i = 1; i < simple.cElement; ++i)
        {
            PCCERT_CONTEXT issuer = simple.rgpElement[i]->pCertContext;
            if (!MayBeAuthority(issuer))
                return "its issuer " + NameOf(issuer) + " is not a certificate authority";
        }
    }
    const std::string keyUsage = KeyUsageText();
    return keyUsage.empty() ? ChainErrorText(CERT_TRUST_IS_NOT_VALID_FOR_USAGE) : keyUsage;
}

std::string CServerCertificate::PolicyErrorText(LONG error, const std::string& host)
{
    switch (static_cast<unsigned long>(error))
    {
    case static_cast<unsigned long>(CERT_E_CN_NO_MATCH):
        return "it was issued for another host name than " + host;
    case static_cast<unsigned long>(CERT_E_UNTRUSTEDROOT):
        return ChainErrorText(CERT_TRUST_IS_UNTRUSTED_ROOT);
    case static_cast<unsigned long>(CERT_E_CHAINING):
        return ChainErrorText(CERT_TRUST_IS_PARTIAL_CHAIN);
    case static_cast<unsigned long>(CERT_E_EXPIRED):
        return ChainErrorText(CERT_TRUST_IS_NOT_TIME_VALID);
    case static_cast<unsigned long>(CERT_E_REVOKED):
        return ChainErrorText(CERT_TRUST_IS_REVOKED);
    case static_cast<unsigned long>(CERT_E_WRONG_USAGE):
        return ChainErrorText(CERT_TRUST_IS_NOT_VALID_FOR_USAGE);
    default:
        return "the system's server certificate check refused it (" + Hex(static_cast<unsigned long>(error)) + ")";
    }
}

bool CServerCertificate::Verify(const std::string& host, std::string& why) const
{
    if (m_certificate == nullptr)
    {
        why = "the server presented no certificate";
        return false;
    }
    LPSTR serverAuth[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
    CERT_CHAIN_PARA para = {};
    para.cbSize = sizeof(para);
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = serverAuth;
    CChain chain;
    // From what the server sent and the local stores only: no URL is fetched.
    if (!CertGetCertificateChain(nullptr, m_certificate, nullptr, m_certificate->hCertStore, &para,
                                 CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL, nullptr, chain.Receive()) ||
        chain.Get() == nullptr)
    {
        why = "its chain could not be built (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    // The chain's own verdict first: the policy check alone lets some chains
    // that end nowhere pass under Wine.
    const DWORD status = chain.Get()->TrustStatus.dwErrorStatus & ~kRevocationBits;
    const DWORD usageBits = CERT_TRUST_INVALID_BASIC_CONSTRAINTS | CERT_TRUST_IS_NOT_VALID_FOR_USAGE;
    if (status != CERT_TRUST_NO_ERROR)
    {
        // Other faults (an unknown root, an expired certificate) come first.
        why = (status & ~usageBits) == 0 ? UsageErrorText(chain.Get()) : ChainErrorText(status);
        return false;
    }

    std::wstring wideHost(host.begin(), host.end()); // host names are ASCII
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl = {};
    ssl.cbSize = sizeof(ssl);
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = &wideHost[0];
    CERT_CHAIN_POLICY_PARA policy = {};
    policy.cbSize = sizeof(policy);
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS result = {};
    result.cbSize = sizeof(result);
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.Get(), &policy, &result))
    {
        why = "the system's server certificate check failed (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    if (result.dwError != 0)
    {
        why = PolicyErrorText(static_cast<LONG>(result.dwError), host);
        return false;
    }
    return true;
}
