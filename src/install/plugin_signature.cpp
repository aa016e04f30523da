#include "install/plugin_signature.h"

#include <cstddef>
#include <utility>

namespace zarvelo {
namespace {

constexpr std::uint8_t kDerSequence = 0x30;
constexpr std::uint8_t kDerInteger = 0x02;
constexpr std::size_t kScalarSize = 32;
// Two INTEGERs of up to 33 bytes (a leading zero keeps a high bit positive).
constexpr std::size_t kMaxDerSize = 2 + 2 * (2 + kScalarSize + 1);

// Reads one DER INTEGER at `at` into `out` (32 bytes, big-endian,
// left-padded); moves `at` past it.
bool ReadScalar(const std::string& der, std::size_t& at, std::uint8_t* out) {
  if (der.size() - at < 2 || static_cast<std::uint8_t>(der[at]) != kDerInteger) return false;
  std::size_t length = static_cast<std::uint8_t>(der[at + 1]);
  at += 2;
  // Short-form lengths only: a P-256 scalar never needs the long form.
  if (length == 0 || length > 0x7F || length > der.size() - at) return false;
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(der[at + i]); };
  if ((byte(0) & 0x80) != 0) return false;  // negative
  std::size_t skip = 0;
  if (byte(0) == 0 && length > 1) {
    // A leading zero is allowed only to keep the next byte's high bit from
    // reading as a sign.
    if ((byte(1) & 0x80) == 0) return false;
    skip = 1;
  }
  const std::size_t digits = length - skip;
  if (digits > kScalarSize) return false;
  bool zero = true;
  for (std::size_t i = 0; i < kScalarSize; ++i) {
    const std::size_t pad = kScalarSize - digits;
    out[i] = i < pad ? 0 : byte(skip + i - pad);
    zero = zero && out[i] == 0;
  }
  at += length;
  return !zero;  // r and s are at least 1
}

}  // namespace

std::optional<EcdsaP256Signature> ParseDerSignature(const std::string& der) {
  if (der.size() < 2 || der.size() > kMaxDerSize) return std::nullopt;
  if (static_cast<std::uint8_t>(der[0]) != kDerSequence) return std::nullopt;
  if (static_cast<std::uint8_t>(der[1]) != der.size() - 2) return std::nullopt;
  EcdsaP256Signature raw{};
  std::size_t at = 2;
  if (!ReadScalar(der, at, raw.data()) || !ReadScalar(der, at, raw.data() + kScalarSize))
    return std::nullopt;
  if (at != der.size()) return std::nullopt;  // something after s inside the sequence
  return raw;
}

namespace {

// Only "there is no such file" means the vendor published no signature; a
// busy server, a proxy or a refused request is what it would be for the
// plug-in itself.
bool IsMissing(std::uint32_t httpStatus) { return httpStatus == 404 || httpStatus == 410; }

std::int32_t Judge(FileSystem& fs, const SignatureVerifier& publisherKey,
                   const Sha256Digest& received, const DownloadResult& fetched,
                   std::uint32_t httpStatus, bool& localFile) {
  localFile = false;
  if (fetched.result != 0) {
    if (IsMissing(httpStatus)) return kTrustENoSignature;
    localFile = fetched.localFile;
    return fetched.result;
  }
  if (!fetched.file) {
    localFile = true;
    return HResultFromWin32(kErrorFileNotFound);
  }
  const Result<std::string> der = fs.ReadSmallFile(*fetched.file, kMaxDerSize);
  if (!der.ok()) {
    if (der.status().error() == kErrorFileTooLarge) return kTrustEBadDigest;
    localFile = true;
    return HResultFromWin32(der.status().error());
  }
  const std::optional<EcdsaP256Signature> signature = ParseDerSignature(der.value());
  if (!signature) return kTrustEBadDigest;
  // The bytes as they arrived: the file they were written to is held
  // until it is installed.
  const Result<bool> verified = publisherKey.Verify(received, *signature);
  if (!verified.ok()) return HResultFromWin32(verified.status().error());
  return verified.value() ? 0 : kTrustEBadDigest;
}

}  // namespace

void CheckPluginSignature(FileSystem& fs, Downloader& net, const SignatureVerifier& publisherKey,
                          const std::wstring& downloadUrl, const std::wstring& pluginFile,
                          const Sha256Digest& received, SignatureVerdict verdict) {
  // The .sig is read once and goes with its download.
  net.Start(downloadUrl + kSignatureSuffix, pluginFile + kSignatureSuffix,
            [&fs, &net, &publisherKey, received,
             verdict = std::move(verdict)](DownloadResult fetched) {
              bool localFile = false;
              const std::int32_t code =
                  Judge(fs, publisherKey, received, fetched, net.LastHttpStatus(), localFile);
              fetched.file.reset();
              verdict(code, localFile);
            });
}

}  // namespace zarvelo
