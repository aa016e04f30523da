#!/usr/bin/env python3
"""Checks what `osslsigncode verify` said about one installer.

    osslsigncode verify ... | tools/lib/signatures.py NAME URL [--timestamped]

A release installer carries exactly two Authenticode signatures: a SHA-1 one,
the only kind Windows 7 without its SHA-2 code-signing update can check, and
nested in it a SHA-256 one for every later Windows. Both must verify and
carry the program's NAME and URL; with --timestamped both must carry a time
stamp that verifies, over a SHA-256 imprint (public time-stamp services
issue no other). Prints one line per signature (signer, time stamp) and
one per fault; exits 1 on any fault.
"""

import sys

EXPECTED_DIGESTS = ["SHA1", "SHA256"]


def field(lines, prefix):
    for line in lines:
        text = line.strip()
        if text.startswith(prefix):
            return text[len(prefix):].strip()
    return None


def signatures(report):
    blocks = []
    for line in report.splitlines():
        if line.startswith("Signature Index:"):
            blocks.append([])
        elif blocks:
            blocks[-1].append(line)
    return blocks


def main(argv):
    if len(argv) not in (2, 3) or (len(argv) == 3 and argv[2] != "--timestamped"):
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    name, url = argv[0], argv[1]
    timestamped = len(argv) == 3
    blocks = signatures(sys.stdin.read())
    faults = []
    if len(blocks) != len(EXPECTED_DIGESTS):
        faults.append("%d signature(s), not a SHA-1 one with a nested SHA-256 one" % len(blocks))
    for number, block in enumerate(blocks, 1):
        digest = field(block, "Message digest algorithm  :") or "no digest"
        signer = field(block, "Subject:") or "no signer"
        stamp = field(block, "Timestamp time:")
        stamp_ok = any(l.strip() == "Timestamp Server Signature verification: ok" for l in block)
        imprint = (field(block, "Hash Algorithm:") or "no").upper().replace("SHA", "SHA-")
        print("signature %d: %s, signed by %s, %s" % (
            number, digest, signer,
            "time-stamped %s (%s imprint)" % (stamp, imprint) if stamp else "no time stamp"))
        if number <= len(EXPECTED_DIGESTS) and digest != EXPECTED_DIGESTS[number - 1]:
            faults.append("signature %d is %s, not %s" % (number, digest, EXPECTED_DIGESTS[number - 1]))
        if not any(l.strip() == "Signature verification: ok" for l in block):
            faults.append("signature %d does not verify" % number)
        if field(block, "Text description:") != name:
            faults.append("signature %d does not name the program %s" % (number, name))
        if field(block, "URL description:") != url:
            faults.append("signature %d does not carry the URL %s" % (number, url))
        if timestamped and not (stamp and stamp_ok):
            faults.append("signature %d has no time stamp that verifies" % number)
        elif timestamped and imprint != "SHA-256":
            faults.append("signature %d is time-stamped over a %s imprint, not SHA-256" % (number, imprint))
    for fault in faults:
        print("FAIL " + fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
