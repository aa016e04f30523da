#!/usr/bin/env bash
# What a vendor ships, checked from this source tree and a copy of it in
# another folder, as two clones would be:
#   - tools/build says that its installers check no plug-in signature and
#     are unsigned;
#   - dist/SHA256SUMS checks with sha256sum -c;
#   - tools/release refuses, leaving no installer in dist/, without the
#     publisher key, without a way to sign, with half of the token's way,
#     with both ways, without a time-stamp service, with a wrong password,
#     with an ECDSA certificate and with uncommitted changes;
#   - released with a key generated inside a SoftHSM token, certified by a
#     throwaway RSA authority and time-stamped by a loopback time-stamp
#     server that refuses SHA-1 imprints, after the x64 preset was
#     configured with a staging address: both installers download from the
#     built-in address, carry two signatures (SHA-1, nested SHA-256) that
#     verify with SHA-256 time stamps, their digests check, their imports and
#     resources still pass, and the summary says that Windows' trust was not
#     checked;
#   - this tree, built with the release's key, makes the same bytes as the
#     copy's release made before signing: two folders, one build from
#     nothing, byte-identical installers;
#   - an unsigned build after that is the unsigned build again, a staging
#     address in the cache notwithstanding;
#   - tools/check-host passes a good loopback host and two limited to one
#     TLS 1.2 suite of Windows 7's, and fails one that sends no intermediate
#     certificate, one with only post-Windows 7 suites, a plug-in over the
#     size limit, one that opens as a web page, and a .sig that does not
#     verify or is served as a web page.
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
# The first tree is this one: tools/test has just built it, so its builds
# are quick. The copy holds the same files, uncommitted changes included,
# and builds only its release, from nothing.
A=$ROOT
B="$WORK/second clone/zarvelo"
copy_tree "$B"
# B is a clone with one commit, as tools/release wants.
git -C "$B" init -q
git -C "$B" add -A
git -C "$B" -c user.name=Test -c user.email=test@127.0.0.1 commit -q -m "Release test"
COMMIT=$(git -C "$B" rev-parse HEAD)
run_tool() {  # run_tool TOOL TREE [VAR=VALUE...]: tools/TOOL in TREE, with only these variables
  local tool=$1 tree=$2
  shift 2
  # From inside the tree: cmake --build --preset reads the presets of the
  # working folder.
  (cd "$tree" && env -u ZARVELO_SIGN_PFX -u ZARVELO_SIGN_PASSWORD -u ZARVELO_SIGN_TIMESTAMP_URL \
    -u ZARVELO_SIGN_CAFILE -u ZARVELO_PAYLOAD_PUBLIC_KEY -u ZARVELO_SIGN_NO_TIMESTAMP \
    -u ZARVELO_SIGN_PKCS11_MODULE -u ZARVELO_SIGN_PKCS11_KEY -u ZARVELO_SIGN_CERT \
    -u ZARVELO_SIGN_PIN "$@" "tools/$tool" >"$WORK/build.log" 2>&1)
}
build() { run_tool build "$@"; }
release() { run_tool release "$@"; }
# same_installers DIR: dist/ of A holds the installers in DIR/x64 and DIR/x86.
same_installers() {
  cmp "$A/dist/x64/$EXE" "$1/x64/$EXE" && cmp "$A/dist/x86/$EXE" "$1/x86/$EXE"
}
digests_check() { (cd "$1/dist" && sha256sum -c SHA256SUMS); }

build "$A" || { cat "$WORK/build.log"; echo "release: 0 passed, 1 failed"; exit 1; }
check "tools/build says its installers check no plug-in signature and are unsigned" \
  grep -q "check no plug-in signature and are unsigned" "$WORK/build.log"
check "SHA256SUMS checks with sha256sum -c" digests_check "$A"
mkdir -p "$WORK/unsigned"
cp -r "$A/dist/x64" "$A/dist/x86" "$WORK/unsigned/"

# A throwaway authority, an intermediate one, and certificates they issued.
P="$WORK/pki"
mkdir -p "$P"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$P/ca.key" -out "$P/ca.crt" -days 2 \
  -subj "/CN=Zarvelo Test Authority" -addext "basicConstraints=critical,CA:true" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
# issue NAME SUBJECT ISSUER DAYS EXTENSION...: $P/NAME.key, RSA or, for a
# NAME ending in -ec, ECDSA P-256, and a $P/NAME.crt that ISSUER signed.
issue() {
  local name=$1 subject=$2 issuer=$3 days=$4 newkey=(-newkey rsa:2048)
  shift 4
  [[ $name != *-ec ]] || newkey=(-newkey ec -pkeyopt ec_paramgen_curve:P-256)
  openssl req "${newkey[@]}" -nodes -keyout "$P/$name.key" -out "$P/$name.csr" \
    -subj "/CN=$subject" 2>/dev/null
  printf '%s\n' "$@" >"$P/$name.ext"
  openssl x509 -req -in "$P/$name.csr" -CA "$P/$issuer.crt" -CAkey "$P/$issuer.key" \
    -CAcreateserial -days "$days" -extfile "$P/$name.ext" -out "$P/$name.crt" 2>/dev/null
}
LEAF=(basicConstraints=CA:false keyUsage=critical,digitalSignature)
for signer in sign sign-ec; do
  issue "$signer" "Zarvelo Test Publisher" ca 2 "${LEAF[@]}" extendedKeyUsage=codeSigning
  openssl pkcs12 -export -inkey "$P/$signer.key" -in "$P/$signer.crt" -certfile "$P/ca.crt" \
    -passout pass:'pa$$ word' -out "$P/$signer.pfx"
done
KEY="$WORK/key"
"$ROOT/tools/make-signing-key" "$KEY" >/dev/null

# A time-stamp authority the same CA certified, answering RFC 3161 requests
# over HTTP on a free loopback port; like public ones, it refuses SHA-1
# imprints.
issue tsa "Zarvelo Test Time Stamps" ca 2 "${LEAF[@]}" extendedKeyUsage=critical,timeStamping
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

# A SoftHSM token with an RSA key generated inside it, whose certificate
# the test authority issues for the key's public half.
export SOFTHSM2_CONF="$WORK/softhsm2.conf"
mkdir -p "$WORK/tokens"
printf 'directories.tokendir = %s\nobjectstore.backend = file\n' "$WORK/tokens" >"$SOFTHSM2_CONF"
MODULE=/usr/lib/softhsm/libsofthsm2.so
softhsm2-util --init-token --free --label "Zarvelo Test" --pin 'pi n' --so-pin 0000 >/dev/null
pkcs11-tool --module "$MODULE" --token-label "Zarvelo Test" --login --pin 'pi n' \
  --keypairgen --key-type rsa:2048 --label codesign --id 01 >/dev/null 2>&1
pkcs11-tool --module "$MODULE" --token-label "Zarvelo Test" --read-object --type pubkey \
  --label codesign -o "$P/token.der" >/dev/null 2>&1
openssl pkey -pubin -inform DER -in "$P/token.der" -out "$P/token-public.pem"
openssl x509 -req -in "$P/sign.csr" -force_pubkey "$P/token-public.pem" -CA "$P/ca.crt" \
  -CAkey "$P/ca.key" -days 2 -extfile "$P/sign.ext" -out "$P/token.crt" 2>/dev/null
cat "$P/token.crt" "$P/ca.crt" >"$P/token-chain.pem"

SIGNING=(ZARVELO_PAYLOAD_PUBLIC_KEY="$KEY/public.pem" ZARVELO_SIGN_PFX="$P/sign.pfx"
  ZARVELO_SIGN_PASSWORD='pa$$ word' ZARVELO_SIGN_CAFILE="$P/ca.crt"
  ZARVELO_SIGN_TIMESTAMP_URL="$TSA_URL")
TOKEN=(ZARVELO_PAYLOAD_PUBLIC_KEY="$KEY/public.pem" ZARVELO_SIGN_CAFILE="$P/ca.crt"
  ZARVELO_SIGN_TIMESTAMP_URL="$TSA_URL" ZARVELO_SIGN_PKCS11_MODULE="$MODULE"
  ZARVELO_SIGN_PKCS11_KEY="pkcs11:token=Zarvelo%20Test;object=codesign;type=private"
  ZARVELO_SIGN_PIN='pi n' ZARVELO_SIGN_CERT="$P/token-chain.pem")
# refuses WHY VAR=VALUE...: tools/release in B stops with a message that
# contains WHY, and leaves none of the installers that were in dist/.
refuses() {
  local why=$1 arch
  shift
  for arch in x64 x86; do mkdir -p "$B/dist/$arch" && echo old >"$B/dist/$arch/$EXE"; done
  echo old >"$B/dist/SHA256SUMS"
  ! release "$B" "$@" && grep -q -- "$why" "$WORK/build.log" &&
    [ ! -e "$B/dist/x64/$EXE" ] && [ ! -e "$B/dist/x86/$EXE" ] && [ ! -e "$B/dist/SHA256SUMS" ]
}
check "a release without the publisher key is refused" \
  refuses "ZARVELO_PAYLOAD_PUBLIC_KEY" "${SIGNING[@]:1}"
check "a release without a way to sign is refused" \
  refuses "ZARVELO_SIGN_PKCS11_MODULE, ZARVELO_SIGN_PKCS11_KEY and ZARVELO_SIGN_CERT" \
  "${SIGNING[@]:0:1}" "${SIGNING[@]:3}"
check "a release through a token without its certificate is refused" \
  refuses "ZARVELO_SIGN_CERT (" "${TOKEN[@]:0:6}"
check "a release given both ways to sign is refused" \
  refuses "both ways of signing" "${SIGNING[@]}" ZARVELO_SIGN_PKCS11_MODULE="$MODULE"
check "a release without a time-stamp service is refused" \
  refuses "ZARVELO_SIGN_TIMESTAMP_URL (" "${SIGNING[@]:0:4}"
check "a release with a wrong password is refused" \
  refuses "not the password" "${SIGNING[@]}" ZARVELO_SIGN_PASSWORD=wrong
check "a release with an ECDSA certificate is refused" \
  refuses "not RSA" "${SIGNING[@]}" ZARVELO_SIGN_PFX="$P/sign-ec.pfx"
dirty_tree_refused() {
  echo "changed" >>"$B/README.md"
  refuses "uncommitted changes on top of commit $COMMIT" "${SIGNING[@]}"
  local refused=$?
  git -C "$B" checkout -q README.md
  return $refused
}
check "a release from a tree with uncommitted changes is refused" dirty_tree_refused

# A developer's staging address in the x64 preset's cache.
STAGING=https://staging.zarvelo.com/down/Zarvelo_CDRplugin.gip
(cd "$B" && cmake --preset x64 "-DZARVELO_DOWNLOAD_URL=$STAGING" >/dev/null)
released=false
release "$B" "${TOKEN[@]}" && released=true
cp "$WORK/build.log" "$WORK/release.log"
check "a release signed through a token and time-stamped succeeds" $released
names_commit_and_signer() {
  grep -q "Release of commit $COMMIT" "$WORK/release.log" &&
    grep -q "signed by /CN=Zarvelo Test Publisher" "$WORK/release.log"
}
check "the release names its commit and the signer" names_commit_and_signer
# Two signatures per file, SHA-1 then nested SHA-256, each verified and
# time-stamped, each with the program's name and address.
verify() {
  local report
  report=$(osslsigncode verify -CAfile "$P/ca.crt" -TSA-CAfile "$P/ca.crt" -in "$1") ||
    { echo "$report"; return 1; }
  echo "$report"
  [ "$(grep -c "^Signature Index:" <<<"$report")" -eq 2 ] &&
    grep -q "Number of verified signatures: 2" <<<"$report" &&
    [ "$(grep "^Message digest algorithm  :" <<<"$report" | tr -d ' ')" = \
      "$(printf 'Messagedigestalgorithm:SHA1\nMessagedigestalgorithm:SHA256')" ] &&
    [ "$(grep -c "Timestamp Server Signature verification: ok" <<<"$report")" -eq 2 ] &&
    [ "$(grep -c "Hash Algorithm: sha256" <<<"$report")" -eq 2 ] &&
    python3 -c 'import sys; sys.exit(sys.argv[1].encode("utf-16-le") in open(sys.argv[2], "rb").read())' \
      "${STAGING%%/down/*}" "$1" &&
    [ "$(grep -c "Text description: Zarvelo矢量图CDR插件安装程序" <<<"$report")" -eq 2 ] &&
    [ "$(grep -c "URL description: https://www.zarvelo.com" <<<"$report")" -eq 2 ]
}
for arch in x64 x86; do
  check "released $arch installer has two signatures that verify" verify "$B/dist/$arch/$EXE"
done
check "SHA256SUMS describes the signed installers" digests_check "$B"
summary_tells_what_ships() {
  local key_digest
  key_digest=$(openssl ec -pubin -in "$KEY/public.pem" -outform DER | sha256sum | cut -d' ' -f1)
  [ "$(grep -c "download address: https://www.zarvelo.com/down/Zarvelo_CDRplugin.gip$" \
      "$WORK/release.log")" -eq 2 ] &&
    [ "$(grep -c "publisher key: SHA-256 of its DER SubjectPublicKeyInfo $key_digest" \
      "$WORK/release.log")" -eq 2 ] &&
    grep -q "expires: $(date -u -d "$(openssl x509 -in "$P/token.crt" -noout -enddate |
      cut -d= -f2)" +%F)" "$WORK/release.log" &&
    grep -q "Windows' trust was NOT checked" "$WORK/release.log"
}
check "the summary shows each installer's address and key, the expiry and the roots used" \
  summary_tells_what_ships
check "signed installers import only what Windows 7 SP1 has" \
  python3 "$ROOT/tests/check_win7_imports.py" "$B/dist/x64/$EXE" "$B/dist/x86/$EXE"
check "signed installers keep their icon, manifest and version block" \
  python3 "$ROOT/tests/check_resources.py" "$B/dist/x64/$EXE" "$B/dist/x86/$EXE"
mkdir -p "$OUT/x64" "$OUT/x86"
cp "$B/dist/x64/$EXE" "$OUT/x64/$EXE"
cp "$B/dist/x86/$EXE" "$OUT/x86/$EXE"

# tools/release leaves its unsigned installers in B's build/release/ARCH:
# A, built with the same key, must make the same bytes.
build "$A" ZARVELO_PAYLOAD_PUBLIC_KEY="$KEY/public.pem"
mkdir -p "$WORK/released"
for arch in x64 x86; do
  mkdir -p "$WORK/released/$arch"
  cp "$B/build/release/$arch/$EXE" "$WORK/released/$arch/$EXE"
done
check "two trees build byte-identical installers" same_installers "$WORK/released"
# Then an unsigned build, with a staging address in the x64 preset's cache.
(cd "$A" && cmake --preset x64 "-DZARVELO_DOWNLOAD_URL=$STAGING" >/dev/null)
build "$A"
check "an unsigned build after a keyed one is the unsigned build, a staging address notwithstanding" \
  same_installers "$WORK/unsigned"

# Loopback download hosts with a certificate for 127.0.0.1 from an
# intermediate authority: a good one, one that sends no intermediate, one
# that offers only cipher suites newer than Windows 7's, and two limited to
# TLS 1.2 with one suite each that Windows 7 has, and one with an ECDSA
# certificate that picks a suite Windows 7 has only with P-384 over a P-256
# key exchange. Under /page/ the plug-in
# opens with <head>; under /odd/ its .sig is served as a web page.
issue intermediate "Zarvelo Test Intermediate" ca 60 basicConstraints=critical,CA:true \
  keyUsage=critical,keyCertSign,cRLSign
issue host 127.0.0.1 intermediate 60 basicConstraints=CA:false \
  keyUsage=critical,digitalSignature,keyEncipherment extendedKeyUsage=serverAuth \
  subjectAltName=IP:127.0.0.1
cat "$P/host.crt" "$P/intermediate.crt" >"$P/host-chain.crt"
issue host-ec 127.0.0.1 intermediate 60 basicConstraints=CA:false \
  keyUsage=critical,digitalSignature extendedKeyUsage=serverAuth subjectAltName=IP:127.0.0.1
cat "$P/host-ec.crt" "$P/intermediate.crt" >"$P/host-ec-chain.crt"
DOCS="$WORK/docs"
mkdir -p "$DOCS/down"
head -c 200000 /dev/urandom >"$DOCS/down/Zarvelo_CDRplugin.gip"
"$ROOT/tools/sign-plugin" "$KEY/private.pem" "$DOCS/down/Zarvelo_CDRplugin.gip" >/dev/null
mkdir -p "$DOCS/odd" "$DOCS/page"
cp "$DOCS/down/"* "$DOCS/odd/"
{ printf '<head><title>Log in</title></head>'; head -c 1000 /dev/urandom; } >"$DOCS/page/Zarvelo_CDRplugin.gip"
openssl genpkey -genparam -algorithm DH -pkeyopt group:ffdhe2048 -out "$P/dh.pem" 2>/dev/null
python3 - "$P" "$DOCS" <<'PY' &
import http.server, os, ssl, sys, threading
pki, docs = sys.argv[1], sys.argv[2]
class Files(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        path = os.path.join(docs, self.path.lstrip("/"))
        if not os.path.isfile(path):
            self.send_error(404)
            return
        with open(path, "rb") as f:
            body = f.read()
        self.send_response(200)
        odd = self.path.startswith("/odd/") and self.path.endswith(".sig")
        self.send_header("Content-Type", "text/html" if odd else "application/octet-stream")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        try:
            self.wfile.write(body)
        except OSError:  # check-host reads only the start of some answers
            pass
    def log_message(self, *args):
        pass
def host(chain, ciphers=None, tls12_only=False, key="host.key"):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(pki, chain), os.path.join(pki, key))
    context.set_ecdh_curve("prime256v1")
    context.load_dh_params(os.path.join(pki, "dh.pem"))
    if ciphers:  # TLS 1.2's; TLS 1.3, which Windows 7 lacks too, stays on
        context.set_ciphers(ciphers)
    if tls12_only:
        context.maximum_version = ssl.TLSVersion.TLSv1_2
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Files)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server.server_port
ports = [host("host-chain.crt"), host("host.crt"),
         host("host-chain.crt", "ECDHE-RSA-AES128-GCM-SHA256:ECDHE-RSA-AES256-GCM-SHA384:"
                                "ECDHE-RSA-CHACHA20-POLY1305"),
         host("host-chain.crt", "AES128-GCM-SHA256", True),
         host("host-chain.crt", "DHE-RSA-AES128-SHA", True),
         host("host-ec-chain.crt", "ECDHE-ECDSA-AES256-GCM-SHA384", True, "host-ec.key")]
with open(pki + "/hosts.tmp", "w") as f:
    f.write(" ".join(map(str, ports)))
os.rename(pki + "/hosts.tmp", pki + "/hosts")
threading.Event().wait()
PY
HOSTS_PID=$!
trap 'kill $TSA_PID $HOSTS_PID 2>/dev/null; rm -rf "$WORK"' EXIT
for _ in $(seq 50); do [ -e "$P/hosts" ] && break; sleep 0.1; done
read -r GOOD_PORT BARE_PORT MODERN_PORT RSA_GCM_PORT DHE_PORT P384_PORT <"$P/hosts"
# check_host PORT [OPTION...]: tools/check-host on that host's plug-in (under
# /down/, or $FOLDER), trusting the test authority; its output also in
# $WORK/host.log.
check_host() {
  local port=$1 status
  shift
  "$ROOT/tools/check-host" --ca-file "$P/ca.crt" "$@" \
    "https://127.0.0.1:$port/${FOLDER:-down}/Zarvelo_CDRplugin.gip" >"$WORK/host.log" 2>&1
  status=$?
  cat "$WORK/host.log"
  return $status
}
good_host_passes() {  # good_host_passes PORT
  check_host "$1" --signed "$KEY/public.pem" &&
    [ "$(grep -c "^PASS" "$WORK/host.log")" -eq 7 ] && ! grep -q "^FAIL\|^WARN" "$WORK/host.log"
}
check "check-host passes a good host, signature included" good_host_passes "$GOOD_PORT"
check "check-host passes a TLS 1.2 host limited to AES128-GCM-SHA256" \
  good_host_passes "$RSA_GCM_PORT"
check "check-host passes a TLS 1.2 host limited to DHE-RSA-AES128-SHA" good_host_passes "$DHE_PORT"
# only_fails PATTERN...: the last host check failed, on exactly these lines.
only_fails() {
  local status=$? pattern
  [ "$status" -ne 0 ] && [ "$(grep -c "^FAIL" "$WORK/host.log")" -eq $# ] || return 1
  for pattern in "$@"; do grep -q "^FAIL .*$pattern" "$WORK/host.log" || return 1; done
}
"$ROOT/tools/make-signing-key" "$WORK/other-key" >/dev/null
over_limit_and_other_key_fail() {
  check_host "$GOOD_PORT" --max-bytes 199999 --signed "$WORK/other-key/public.pem"
  only_fails "over the limit of 199999 bytes"
}
check "check-host fails a plug-in over the size limit" over_limit_and_other_key_fail
other_key_fails() {
  check_host "$GOOD_PORT" --signed "$WORK/other-key/public.pem"
  only_fails "does not verify"
}
check "check-host fails a .sig made with another key" other_key_fails
page_fails() {
  FOLDER=page check_host "$GOOD_PORT"
  only_fails "refuses the plug-in's answer: the body opens as a web page"
}
check "check-host fails a plug-in that opens with <head>, as the installer does" page_fails
html_sig_fails() {
  FOLDER=odd check_host "$GOOD_PORT" --signed "$KEY/public.pem"
  only_fails "refuses the .sig's answer: typed as a web page"
}
check "check-host fails a .sig served as a web page, as the installer does" html_sig_fails
no_intermediate_fails() {
  check_host "$BARE_PORT"
  only_fails "chain incomplete: .*not the intermediate"
}
check "check-host fails a host that does not send the intermediate certificate" \
  no_intermediate_fails
modern_suites_fail() {
  check_host "$MODERN_PORT"
  only_fails "no cipher suite that Windows 7 SP1 has"
}
check "check-host fails a host that offers only suites newer than Windows 7's" modern_suites_fail
p384_suite_over_p256_fails() {
  check_host "$P384_PORT"
  only_fails "picks ECDHE-ECDSA-AES256-GCM-SHA384 with a P-256 key exchange"
}
check "check-host fails a host that picks a P-384-only suite with P-256" p384_suite_over_p256_fails

echo "release: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
