// trust_test_ca.exe <ca.der>: makes the loopback test server's CA a trusted
// root of this (Wine) system, so HTTPS to it validates like a real server.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cwchar>
#include <vector>

#include "win32/handles.h"

namespace {

void CloseStore(HCERTSTORE store) { ::CertCloseStore(store, 0); }
HCERTSTORE NullStore() { return nullptr; }
using StoreHandle = zarvelo::win32::UniqueHandle<HCERTSTORE, CloseStore, NullStore>;

void FreeCertificate(PCCERT_CONTEXT certificate) { ::CertFreeCertificateContext(certificate); }
PCCERT_CONTEXT NullCertificate() { return nullptr; }
using CertificateHandle =
    zarvelo::win32::UniqueHandle<PCCERT_CONTEXT, FreeCertificate, NullCertificate>;

int Fail(const wchar_t* what) {
  std::fwprintf(stderr, L"trust_test_ca: %ls failed, error %lu\n", what, ::GetLastError());
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fwprintf(stderr, L"usage: trust_test_ca <certificate.der>\n");
    return 2;
  }
  const zarvelo::win32::FileHandle file(::CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ,
                                                      nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return Fail(L"opening the certificate");
  std::vector<BYTE> der(64 * 1024);
  DWORD size = 0;
  if (!::ReadFile(file.get(), der.data(), static_cast<DWORD>(der.size()), &size, nullptr)) {
    return Fail(L"reading the certificate");
  }

  const StoreHandle root(::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                         CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root"));
  if (!root) return Fail(L"opening the LocalMachine Root store");
  PCCERT_CONTEXT added = nullptr;
  if (!::CertAddEncodedCertificateToStore(root.get(), X509_ASN_ENCODING, der.data(), size,
                                          CERT_STORE_ADD_REPLACE_EXISTING, &added)) {
    return Fail(L"adding the certificate");
  }
  const CertificateHandle certificate(added);
  std::fwprintf(stdout, L"trust_test_ca: trusted %ls\n", argv[1]);
  return 0;
}
