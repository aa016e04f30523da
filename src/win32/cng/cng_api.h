// The CNG functions (bcrypt.dll) the installer uses, taken from System32 at
// run time rather than imported: bcrypt is not on the known-DLL list, so an
// import would be looked for beside the installer first (system_library.h).
#pragma once

#include <windows.h>

#include <bcrypt.h>

namespace zarvelo::win32 {

#define ZARVELO_CNG_FUNCTIONS(X)                                                        \
  X(CloseAlgorithmProvider) X(CreateHash) X(DestroyHash) X(DestroyKey) X(FinishHash)      \
  X(HashData) X(ImportKeyPair) X(OpenAlgorithmProvider) X(VerifySignature)

struct CngFunctions {
#define ZARVELO_DECLARE(name) decltype(&::BCrypt##name) name = nullptr;
  ZARVELO_CNG_FUNCTIONS(ZARVELO_DECLARE)
#undef ZARVELO_DECLARE
  // 0 when every function above was found; otherwise why not, and none of
  // them may be called.
  DWORD loadError = 0;
};

// Loaded on first use, kept for the life of the process.
const CngFunctions& Cng();

}  // namespace zarvelo::win32
