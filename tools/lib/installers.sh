# What tools/build and tools/release share: building, Authenticode-signing
# and publishing the two installers. Sourced after common.sh, not run.
# shellcheck shell=bash

PROGRAM_NAME="Zarvelo矢量图CDR插件安装程序"
PROGRAM_URL="https://www.zarvelo.com"
DIST="$ROOT/dist"
TOOL=${TOOL:-$(basename "$0")}

die() { printf 'tools/%s: %s\n' "$TOOL" "$*" >&2; exit 1; }

# Nothing from an earlier build stays in dist/: it either holds this build,
# complete, or no installers at all.
clear_dist() { rm -f "$DIST/SHA256SUMS" "$DIST/x64/$EXE_NAME" "$DIST/x86/$EXE_NAME"; }

# new_stage: STAGE, a folder under build/ that is removed when the tool ends.
new_stage() {
  mkdir -p "$ROOT/build"
  STAGE=$(mktemp -d "$ROOT/build/release.XXXXXX")
  trap 'rm -rf "$STAGE"' EXIT
}

# build_installers KEY [FRESH]: both release installers into $STAGE/x64 and
# $STAGE/x86, carrying the publisher key KEY (a full path) or, when KEY is
# empty, none. With FRESH (tools/release) each architecture is configured
# anew in build/release/ARCH, emptied first: nothing an earlier configure
# step left in a cache (a staging download address, say) reaches a release.
build_installers() {
  local arch dir
  for arch in x64 x86; do
    log "Building the $arch installer"
    if [ -n "${2:-}" ]; then
      dir="$ROOT/build/release/$arch"
      rm -rf "$dir"
      (cd "$ROOT" && quietly cmake --preset "$arch" -B "$dir" "-DZARVELO_PAYLOAD_PUBLIC_KEY=$1")
      cmake --build "$dir" -j "$(nproc)" >&2
    else
      # A new cache over the old objects: settings a developer gave the
      # preset by hand (a staging address) do not stay. Only the cache goes
      # (--fresh would take the objects in CMakeFiles/ with it); ninja
      # rebuilds what a changed setting changes.
      dir="$ROOT/build/$arch"
      rm -f "$dir/CMakeCache.txt"
      quietly cmake --preset "$arch" -S "$ROOT" "-DZARVELO_PAYLOAD_PUBLIC_KEY=$1"
      build_preset "$arch"
    fi
    mkdir -p "$STAGE/$arch"
    cp "$dir/$EXE_NAME" "$STAGE/$arch/$EXE_NAME"
  done
}

# write_password: $STAGE/password holds the token's PIN (SIGN_WAY=token) or
# $ZARVELO_SIGN_PASSWORD. It goes to osslsigncode and openssl in a file only
# we can read, never on a command line that other users can see.
write_password() {
  if [ "${SIGN_WAY:-pfx}" = token ]; then
    (umask 077 && printf '%s' "${ZARVELO_SIGN_PIN:-}" >"$STAGE/password")
  else
    (umask 077 && printf '%s' "$ZARVELO_SIGN_PASSWORD" >"$STAGE/password")
  fi
}

# sign_installers: both installers in $STAGE signed, with the key in a
# PKCS#11 token when SIGN_WAY is token (ZARVELO_SIGN_PKCS11_MODULE,
# ZARVELO_SIGN_PKCS11_KEY, ZARVELO_SIGN_CERT, ZARVELO_SIGN_PIN), else with
# $ZARVELO_SIGN_PFX; both signatures time-stamped by
# $ZARVELO_SIGN_TIMESTAMP_URL when that is set. Each installer gets a SHA-1
# signature, which is all that Windows 7 without its SHA-2 code-signing
# update can check, and nested in it a SHA-256 signature, which is what
# Windows 10 and 11 look at. Time-stamp services are asked for SHA-256
# imprints only: public ones refuse SHA-1, so the SHA-1 signature is made
# without a time stamp and stamped afterwards.
sign_installers() {
  local arch by=() stamp=()
  if [ "${SIGN_WAY:-pfx}" = token ]; then
    by=(-pkcs11module "$ZARVELO_SIGN_PKCS11_MODULE" -certs "$ZARVELO_SIGN_CERT"
        -key "$ZARVELO_SIGN_PKCS11_KEY")
    [ -z "${ZARVELO_SIGN_PIN+set}" ] || by+=(-readpass "$STAGE/password")
  else
    by=(-pkcs12 "$ZARVELO_SIGN_PFX" -readpass "$STAGE/password")
  fi
  [ -z "${ZARVELO_SIGN_TIMESTAMP_URL:-}" ] || stamp=(-ts "$ZARVELO_SIGN_TIMESTAMP_URL")
  [ -e "$STAGE/password" ] || write_password
  for arch in x64 x86; do
    log "Signing the $arch installer"
    sign_step "$arch" "the SHA-1 signature" sign "${by[@]}" -h sha1 \
      -n "$PROGRAM_NAME" -i "$PROGRAM_URL"
    [ ${#stamp[@]} -eq 0 ] ||
      sign_step "$arch" "the SHA-1 signature's time stamp" add -h sha256 "${stamp[@]}"
    sign_step "$arch" "the nested SHA-256 signature" sign -nest "${by[@]}" -h sha256 \
      -n "$PROGRAM_NAME" -i "$PROGRAM_URL" "${stamp[@]}"
  done
}

# sign_step ARCH WHAT COMMAND OPTION...: osslsigncode COMMAND on the ARCH
# installer in $STAGE; a failure stops the tool, saying why.
sign_step() {
  local arch=$1 what=$2 reason
  shift 2
  if osslsigncode "$@" -in "$STAGE/$arch/$EXE_NAME" -out "$STAGE/$arch/signed.exe" \
      </dev/null >"$STAGE/sign.log" 2>&1; then
    mv "$STAGE/$arch/signed.exe" "$STAGE/$arch/$EXE_NAME"
    return 0
  fi
  cat "$STAGE/sign.log" >&2
  if [[ " $* " == *" -ts "* ]] && grep -qi 'timestamp\|connect\|curl' "$STAGE/sign.log"; then
    reason="$ZARVELO_SIGN_TIMESTAMP_URL gave no time stamp (asked for one over a SHA-256 imprint)"
  elif [ "${SIGN_WAY:-pfx}" = token ]; then
    reason="the token did not sign: check ZARVELO_SIGN_PKCS11_MODULE ($ZARVELO_SIGN_PKCS11_MODULE), ZARVELO_SIGN_PKCS11_KEY, ZARVELO_SIGN_PIN and that ZARVELO_SIGN_CERT holds the certificate of that key"
  elif grep -qi 'wrong password\|mac verify failure' "$STAGE/sign.log"; then
    reason="ZARVELO_SIGN_PASSWORD is not the password of $ZARVELO_SIGN_PFX"
  else
    reason="$ZARVELO_SIGN_PFX is not a PKCS#12 file with a code-signing key and certificate"
  fi
  die "signing the $arch installer failed ($what): $reason. dist/ holds no installers."
}

# write_sums: $STAGE/SHA256SUMS for the installers as they are now.
write_sums() { (cd "$STAGE" && sha256sum "x64/$EXE_NAME" "x86/$EXE_NAME" >SHA256SUMS); }

# publish: the staged installers and SHA256SUMS into dist/.
publish() {
  local arch
  for arch in x64 x86; do
    mkdir -p "$DIST/$arch"
    chmod 0755 "$STAGE/$arch/$EXE_NAME"
    mv "$STAGE/$arch/$EXE_NAME" "$DIST/$arch/$EXE_NAME"
  done
  mv "$STAGE/SHA256SUMS" "$DIST/SHA256SUMS"
}
