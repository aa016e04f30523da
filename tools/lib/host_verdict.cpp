// What the installer makes of one answer, for tools/check-host: the answer's
// status line, headers and first bytes on standard input, judged by the
// installer's own portable rules, so that the check and the installer can
// never disagree. Run as
//
//   host_verdict MAX_BYTES [--signature] < answer
//
// where the answer is the status code on the first line, then one
// "Name: value" line per header, an empty line and the body's first bytes
// (all of them for --signature: the .sig is parsed as the installer parses
// it). Prints one line, "taken: ..." or "refused: ...", and exits 0 when the
// installer would take the answer, 1 when not, 2 on a malformed input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>

#include "download/download_policy.h"
#include "download/plugin_body.h"
#include "install/plugin_signature.h"

namespace {

using zarvelo::BodyVerdict;

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

int Refused(const std::string& why) {
  std::cout << "refused: " << why << "\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const bool signature = argc == 3 && std::string(argv[2]) == "--signature";
  if (argc != 2 && !signature) {
    std::cerr << "usage: host_verdict MAX_BYTES [--signature] < answer\n";
    return 2;
  }
  const std::uint64_t maxBytes = std::strtoull(argv[1], nullptr, 10);
  std::string line;
  if (!std::getline(std::cin, line)) return 2;
  const unsigned status = static_cast<unsigned>(std::strtoul(line.c_str(), nullptr, 10));
  zarvelo::BodyHeaders headers;
  while (std::getline(std::cin, line) && !line.empty() && line != "\r") {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) return 2;
    const std::string name = Lower(line.substr(0, colon));
    const std::wstring value = Wide(line.substr(colon + 1));
    // WinHTTP hands over the first of repeated headers.
    std::optional<std::wstring>* field = name == "content-length"      ? &headers.contentLength
                                         : name == "transfer-encoding" ? &headers.transferEncoding
                                         : name == "content-encoding"  ? &headers.contentEncoding
                                         : name == "content-type"      ? &headers.contentType
                                                                       : nullptr;
    if (field != nullptr && !*field) *field = value;
  }
  const std::string body((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());

  // The installer's downloader reads a body only after this status;
  // anything else ends the attempt with the code HttpStatusOutcome gives.
  if (status != zarvelo::kPluginStatus) {
    char code[16];
    std::snprintf(code, sizeof code, "%d", static_cast<int>(zarvelo::HttpStatusOutcome(status).result));
    return Refused("status " + std::to_string(status) + ", reported as error code " + code);
  }
  const zarvelo::BodyPlan plan = zarvelo::PlanBody(headers, maxBytes);
  switch (plan.verdict) {
    case BodyVerdict::kWebPage:
      return Refused("typed as a web page (text/html)");
    case BodyVerdict::kTooLarge:
      return Refused("Content-Length " + std::to_string(plan.length.value_or(0)) +
                     " is over the limit of " + std::to_string(maxBytes) + " bytes");
    case BodyVerdict::kNoLength:
      return Refused("no Content-Length (chunked or not): its end cannot be told from a cut");
    case BodyVerdict::kEncoded:
      return Refused("encoded (Content-Encoding or Transfer-Encoding): not the file's own bytes");
    case BodyVerdict::kTake:
      break;
  }
  zarvelo::WebPageSniffer sniffer;
  sniffer.Feed(body.data(), body.size());
  if (sniffer.IsWebPage()) return Refused("the body opens as a web page");
  if (signature && !zarvelo::ParseDerSignature(body))
    return Refused("not a DER ECDSA P-256 signature as the installer reads one");
  std::cout << "taken: Content-Length " << plan.length.value_or(0) << "\n";
  return 0;
}
