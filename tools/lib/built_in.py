#!/usr/bin/env python3
"""What one release installer carries, for tools/release's summary.

    tools/lib/built_in.py BUILD_DIR INSTALLER

Prints two lines: the download address and the SHA-256 (hex) of the
publisher key's DER SubjectPublicKeyInfo, both as BUILD_DIR's configure
step wrote them, and exits 1 unless both are also found in INSTALLER's
bytes, so that what is printed is what ships.
"""

import hashlib
import os
import re
import sys

# DER SubjectPublicKeyInfo of an uncompressed P-256 point, up to X‖Y.
P256_SPKI_PREFIX = bytes.fromhex("3059301306072a8648ce3d020106082a8648ce3d03010703420004")


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    build, installer = argv
    with open(os.path.join(build, "generated", "build_config.h"), encoding="utf-8") as f:
        url = re.search(r'#define ZARVELO_DOWNLOAD_URL L"([^"]*)"', f.read()).group(1)
    with open(os.path.join(build, "generated", "key", "payload_key.h"), encoding="utf-8") as f:
        escaped = re.search(r'#define ZARVELO_PAYLOAD_PUBLIC_KEY_XY "([^"]*)"', f.read()).group(1)
    xy = bytes(int(h, 16) for h in re.findall(r"\\x([0-9a-fA-F]{2})", escaped))
    with open(installer, "rb") as f:
        carried = f.read()
    faults = []
    if (url + "\0").encode("utf-16-le") not in carried:
        faults.append("the installer does not carry the address %s" % url)
    if len(xy) != 64 or xy not in carried:
        faults.append("the installer does not carry a publisher key")
    print(url)
    print(hashlib.sha256(P256_SPKI_PREFIX + xy).hexdigest() if len(xy) == 64 else "none")
    for fault in faults:
        print("FAIL " + fault, file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
