// Puts a PEM certificate into the current user's trusted root authorities, as
// a user or an administrator's policy does on Windows, and prints "trusted".
//   trust_root CERT.pem
#include <windows.h>
// (after windows.h, which it needs)
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2)
        return 2;
    std::ifstream in(argv[1], std::ios::binary);
    const std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    DWORD size = 0;
    if (!CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
        std::fprintf(stderr, "trust_root: no PEM certificate (error %lu)\n", GetLastError());
        return 1;
    }
    std::vector<BYTE> der(size);
    (void)CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr);
    const HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    if (!store || !CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size,
                                                    CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
        std::fprintf(stderr, "trust_root: not added (error %lu)\n", GetLastError());
        return 1;
    }
    CertCloseStore(store, 0);
    std::puts("trusted");
    return 0;
}
