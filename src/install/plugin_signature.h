// The vendor's signature on the downloaded plug-in: fetched from beside the
// download address, checked against the key the installer was built with.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/downloader.h"
#include "platform/file_system.h"
#include "platform/signature.h"

namespace zarvelo {

// The signature file sits at the download address followed by this, and is
// downloaded to the plug-in's temporary file followed by it.
inline constexpr wchar_t kSignatureSuffix[] = L".sig";

// A DER ECDSA signature (SEQUENCE of two INTEGERs r and s, as
// `openssl dgst -sign` writes it) in the raw r‖s form. Strict DER only: no
// bytes after the sequence, minimal lengths and integers, r and s positive
// and at most 32 bytes long.
std::optional<EcdsaP256Signature> ParseDerSignature(const std::string& der);

// 0 when the vendor signed exactly the bytes of the downloaded plug-in;
// otherwise the code the attempt reports as a download failure, and whether
// it was the file in TEMP that failed (`localFile`) rather than the network.
using SignatureVerdict = std::function<void(std::int32_t code, bool localFile)>;

// Downloads `<downloadUrl>.sig` into `<pluginFile>.sig` and checks it
// against `received`, the digest of the plug-in's bytes as they arrived,
// then calls `verdict` on the user-interface thread:
//
//   the .sig download                     verdict
//   ------------------------------------  ------------------------------------
//   failed, the server answered 404, 410  kTrustENoSignature
//   failed otherwise                      its result, as for the plug-in
//   arrived, cannot be read               HRESULT_FROM_WIN32 of the error
//   arrived, not a DER P-256 signature    kTrustEBadDigest
//   arrived, signs other bytes            kTrustEBadDigest
//   the key cannot check the signature    HRESULT_FROM_WIN32 of the error
//   arrived, signs the plug-in            0
void CheckPluginSignature(FileSystem& fs, Downloader& net, const SignatureVerifier& publisherKey,
                          const std::wstring& downloadUrl, const std::wstring& pluginFile,
                          const Sha256Digest& received, SignatureVerdict verdict);

}  // namespace zarvelo
