#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/digest.h"
#include "platform/file_system.h"

namespace zarvelo {

struct DownloadResult {
  // 0 when the whole body was written to the file; otherwise a negative
  // HRESULT (INET_E_*, E_ABORT, or HRESULT_FROM_WIN32 of a file error).
  std::int32_t result = 0;
  // With result 0: the SHA-256 of the bytes received, taken as they came
  // (when the downloader was asked to take it).
  Sha256Digest sha256{};
  // With result 0: the file the bytes are in, held until dropped. The one
  // asked for, unless its name was still held by another program (a scanner
  // reading the last attempt's file): then a fresh name beside it.
  std::shared_ptr<HeldFile> file;
  // With a failure: true when the file in TEMP could not be made or
  // written (a full disk, no such folder, no access), not the network.
  bool localFile = false;
};

// The URL download service. One transfer at a time.
class Downloader {
 public:
  // Takes the result, and with it the file: the file goes when `done` lets
  // go of it.
  using Done = std::function<void(DownloadResult download)>;

  virtual ~Downloader() = default;

  // Fetches `url` from the server (never from a cache) into `file`, a new
  // file made for it (one of that name is removed first), and calls `done`
  // on the user-interface thread when the transfer has ended. Transient
  // faults are retried meanwhile; the window keeps working.
  virtual void Start(const std::wstring& url, const std::wstring& file, Done done) = 0;

  // The HTTP status of the server's final answer in the transfer started
  // last, read once its `done` runs; 0 when no answer arrived (no
  // connection, TLS failure, cancelled). Tells "the server has no such file"
  // (404, 410) from a transfer that failed, which the result alone does
  // not: an unknown host and a 404 share INET_E_RESOURCE_NOT_FOUND.
  virtual std::uint32_t LastHttpStatus() const = 0;
};

}  // namespace zarvelo
