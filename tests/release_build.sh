#!/usr/bin/env bash
# What a vendor ships, checked from two copies of this source tree in
# different folders, as two clones would be:
#   - both copies build byte-identical installers;
#   - dist/SHA256SUMS checks with sha256sum -c;
#   - a wrong signing password stops the build and leaves no installer;
#   - signed with a throwaway certificate authority and time-stamped by a
#     loopback time-stamp server, both installers verify,
#     their digests check, and their imports and resources still pass;
#   - an unsigned build after a signed one is the unsigned build again.
#
#   tests/release_build.sh OUT
# leaves the signed installers in OUT/x64 and OUT/x86 for the Wine tests and
# ends with "release: N passed, M failed".
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT=$1
EXE="Zarvelo _Plugin_for_cdr.exe"
WORK=$(mktemp -d /tmp/zarvelo-release.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
passed=0
failed=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@" >"$WORK/check.log" 2>&1; then
    passed=$((passed + 1))
    echo "PASS $what"
  else
    failed=$((failed + 1))
    echo "FAIL $what"
    sed 's/^/  /' "$WORK/check.log"
  fi
}

copy_tree() {
  mkdir -p "$1"
  (cd "$ROOT" && git ls-files -z --cached --others --exclude-standard | tar --null -T - -c) |
    tar -x -C "$1"
}
A="$WORK/a"
B="$WORK/second clone/zarvelo"
copy_tree "$A"
copy_tree "$B"
build() {  # build TREE [VAR=VALUE...]: tools/build in TREE, signing per the variables
  local tree=$1
  shift
  # From inside the tree: cmake --build --preset reads the presets of the
  # working folder.
  (cd "$tree" && env -u ZARVELO_SIGN_PFX -u ZARVELO_SIGN_PASSWORD -u ZARVELO_SIGN_TIMESTAMP_URL \
    "$@" tools/build >"$WORK/build.log" 2>&1)
}
same_installers() {
  cmp "$A/dist/x64/$EXE" "$B/dist/x64/$EXE" && cmp "$A/dist/x86/$EXE" "$B/dist/x86/$EXE"
}
digests_check() { (cd "$1/dist" && sha256sum -c SHA256SUMS); }

build "$A" || { cat "$WORK/build.log"; echo "release: 0 passed, 1 failed"; exit 1; }
build "$B"
check "two copies build byte-identical installers" same_installers
check "SHA256SUMS checks with sha256sum -c" digests_check "$A"

# A throwaway authority and a code-signing certificate it issued.
P="$WORK/pki"
mkdir -p "$P"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$P/ca.key" -out "$P/ca.crt" -days 2 \
  -subj "/CN=Zarvelo Test Authority" -addext "basicConstraints=critical,CA:true" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
# issue NAME SUBJECT EXTENDED-KEY-USAGE: $P/NAME.key and a $P/NAME.crt the CA
# signed.
issue() {
  openssl req -newkey rsa:2048 -nodes -keyout "$P/$1.key" -out "$P/$1.csr" \
    -subj "/CN=$2" 2>/dev/null
  printf 'basicConstraints=CA:false\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=%s\n' \
    "$3" >"$P/$1.ext"
  openssl x509 -req -in "$P/$1.csr" -CA "$P/ca.crt" -CAkey "$P/ca.key" -CAcreateserial \
    -days 2 -extfile "$P/$1.ext" -out "$P/$1.crt" 2>/dev/null
}
issue sign "Zarvelo Test Publisher" codeSigning
openssl pkcs12 -export -inkey "$P/sign.key" -in "$P/sign.crt" -certfile "$P/ca.crt" \
  -passout pass:'pa$$ word' -out "$P/sign.pfx"

# A time-stamp authority the same CA certified, answering RFC 3161 requests
# over HTTP on a free loopback port.
issue tsa "Zarvelo Test Time Stamps" critical,timeStamping
echo 01 >"$P/tsa.serial"
printf '%s\n' "[tsa]" "default_tsa = test_tsa" "[test_tsa]" "serial = $P/tsa.serial" \
  "signer_cert = $P/tsa.crt" "signer_key = $P/tsa.key" "certs = $P/tsa.crt" \
  "default_policy = 1.2.3.4.1" "digests = sha256" "signer_digest = sha256" \
  "ess_cert_id_alg = sha256" >"$P/tsa.cnf"
python3 - "$P" <<'PY' &
import http.server, os, subprocess, sys
pki = sys.argv[1]
class TimeStamps(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        reply = subprocess.run(["openssl", "ts", "-reply", "-config", pki + "/tsa.cnf",
                                "-queryfile", "/dev/stdin", "-out", "/dev/stdout"],
                               input=query, capture_output=True, check=True).stdout
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)
    def log_message(self, *args):
        pass
server = http.server.HTTPServer(("127.0.0.1", 0), TimeStamps)
with open(pki + "/tsa.port.tmp", "w") as f:
    f.write(str(server.server_port))
os.rename(pki + "/tsa.port.tmp", pki + "/tsa.port")
server.serve_forever()
PY
TSA_PID=$!
trap 'kill $TSA_PID 2>/dev/null; rm -rf "$WORK"' EXIT
for _ in $(seq 50); do [ -e "$P/tsa.port" ] && break; sleep 0.1; done
TSA_URL="http://127.0.0.1:$(cat "$P/tsa.port" 2>/dev/null)/"

wrong_password_stops() {
  ! build "$B" ZARVELO_SIGN_PFX="$P/sign.pfx" ZARVELO_SIGN_PASSWORD=wrong &&
    grep -q "not the password" "$WORK/build.log" &&
    [ ! -e "$B/dist/x64/$EXE" ] && [ ! -e "$B/dist/x86/$EXE" ] && [ ! -e "$B/dist/SHA256SUMS" ]
}
check "a wrong password stops the build and leaves no installer" wrong_password_stops

signed=false
build "$B" ZARVELO_SIGN_PFX="$P/sign.pfx" ZARVELO_SIGN_PASSWORD='pa$$ word' \
  ZARVELO_SIGN_TIMESTAMP_URL="$TSA_URL" && signed=true
check "a signed, time-stamped build succeeds" $signed
verify() {
  local report
  report=$(osslsigncode verify -CAfile "$P/ca.crt" -TSA-CAfile "$P/ca.crt" -in "$1") ||
    { echo "$report"; return 1; }
  grep -q "Message digest algorithm  : SHA256" <<<"$report" &&
    grep -q "Timestamp Server Signature verification: ok" <<<"$report" &&
    grep -q "Text description: Zarvelo矢量图CDR插件安装程序" <<<"$report" &&
    grep -q "URL description: https://www.zarvelo.com" <<<"$report"
}
for arch in x64 x86; do
  check "signed $arch installer verifies against the authority" verify "$B/dist/$arch/$EXE"
done
check "SHA256SUMS describes the signed installers" digests_check "$B"
check "signed installers import only what Windows 7 SP1 has" \
  python3 "$ROOT/tests/check_win7_imports.py" "$B/dist/x64/$EXE" "$B/dist/x86/$EXE"
check "signed installers keep their icon, manifest and version block" \
  python3 "$ROOT/tests/check_resources.py" "$B/dist/x64/$EXE" "$B/dist/x86/$EXE"
mkdir -p "$OUT/x64" "$OUT/x86"
cp "$B/dist/x64/$EXE" "$OUT/x64/$EXE"
cp "$B/dist/x86/$EXE" "$OUT/x86/$EXE"

build "$B"
check "an unsigned build after a signed one is the unsigned build" same_installers

echo "release: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
