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

# build_installers KEY: both release installers into $STAGE/x64 and
# $STAGE/x86, carrying the publisher key KEY (a full path) or, when KEY is
# empty, none.
build_installers() {
  local arch
  for arch in x64 x86; do
    log "Building the $arch installer"
    quietly cmake --preset "$arch" -S "$ROOT" "-DZARVELO_PAYLOAD_PUBLIC_KEY=$1"
    build_preset "$arch"
    mkdir -p "$STAGE/$arch"
    cp "$ROOT/build/$arch/$EXE_NAME" "$STAGE/$arch/$EXE_NAME"
  done
}

# write_password: $STAGE/password holds $ZARVELO_SIGN_PASSWORD. It goes to
# osslsigncode and openssl in a file only we can read, never on a command
# line that other users can see.
write_password() {
  (umask 077 && printf '%s' "$ZARVELO_SIGN_PASSWORD" >"$STAGE/password")
}

# sign_installers: both installers in $STAGE signed with $ZARVELO_SIGN_PFX,
# time-stamped by $ZARVELO_SIGN_TIMESTAMP_URL when that is set. Each gets a
# SHA-1 signature, which is all that Windows 7 without its SHA-2 code-signing
# update can check, and nested in it a SHA-256 signature, which is what
# Windows 10 and 11 look at.
sign_installers() {
  local arch digest nest timestamp=() reason
  [ -n "${ZARVELO_SIGN_TIMESTAMP_URL:-}" ] && timestamp=(-ts "$ZARVELO_SIGN_TIMESTAMP_URL")
  [ -e "$STAGE/password" ] || write_password
  for arch in x64 x86; do
    log "Signing the $arch installer"
    nest=()
    for digest in sha1 sha256; do
      if ! osslsigncode sign "${nest[@]}" -pkcs12 "$ZARVELO_SIGN_PFX" -readpass "$STAGE/password" \
          -h "$digest" -n "$PROGRAM_NAME" -i "$PROGRAM_URL" "${timestamp[@]}" \
          -in "$STAGE/$arch/$EXE_NAME" -out "$STAGE/$arch/signed.exe" >"$STAGE/sign.log" 2>&1; then
        cat "$STAGE/sign.log" >&2
        if grep -qi 'wrong password\|mac verify failure' "$STAGE/sign.log"; then
          reason="ZARVELO_SIGN_PASSWORD is not the password of $ZARVELO_SIGN_PFX"
        elif [ ${#timestamp[@]} -gt 0 ] && grep -qi 'timestamp\|connect\|curl' "$STAGE/sign.log"; then
          reason="no time stamp from $ZARVELO_SIGN_TIMESTAMP_URL for the ${digest^^} signature"
        else
          reason="$ZARVELO_SIGN_PFX is not a PKCS#12 file with a code-signing key and certificate"
        fi
        die "signing the $arch installer failed: $reason. dist/ holds no installers."
      fi
      mv "$STAGE/$arch/signed.exe" "$STAGE/$arch/$EXE_NAME"
      nest=(-nest)
    done
  done
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
