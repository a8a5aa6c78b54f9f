// trust_test_ca.exe CA.der: adds a certificate to the local machine's
// trusted root store. The test fixtures run it in the build's private Wine
// prefix, so that the loopback TLS servers' test CA is trusted there and
// nowhere else.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <string>

#include "TestSupport.h"

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        fprintf(stderr, "usage: trust_test_ca CA.der\n");
        return 2;
    }
    const std::string der = ReadFileBytes(argv[1]);
    if (der.empty())
    {
        fprintf(stderr, "trust_test_ca: cannot read %s\n", argv[1]);
        return 1;
    }
    HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "ROOT");
    if (root == nullptr)
    {
        fprintf(stderr, "trust_test_ca: cannot open the ROOT store (error %lu)\n", GetLastError());
        return 1;
    }
    const BOOL added =
        CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                         static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    const DWORD error = GetLastError();
    CertCloseStore(root, 0);
    if (!added)
    {
        fprintf(stderr, "trust_test_ca: cannot add %s (error %lu)\n", argv[1], error);
        return 1;
    }
    return 0;
}
