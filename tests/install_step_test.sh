#!/usr/bin/env bash
# The tools' package step against a mirror in mid-sync: stand-ins for apt-get,
# dpkg and dpkg-query first in PATH. `update` fails for the i386 security
# index every time and `install` refuses wine32:i386, as such a mirror does.
# Ends with "install step: N passed, M failed".
set -u
ROOT=$(cd "$(dirname "$0")/.." && pwd)
WORK=$(mktemp -d /tmp/zarvelo-install-step.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/bin"

cat >"$WORK/bin/apt-get" <<'SH'
#!/bin/sh
echo "apt-get $*" >>"$STANDIN_LOG"
case " $* " in
  *" update "*)
    echo "E: Failed to fetch .../bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (1234 != 5678). Mirror sync in progress?"
    exit 100 ;;
  *:i386*|*" $STANDIN_REFUSE "*)
    echo "E: Unable to correct problems, you have held broken packages."
    exit 100 ;;
esac
for pkg in "$@"; do case $pkg in -*|install) ;; *) echo "$pkg" >>"$STANDIN_INSTALLED" ;; esac; done
SH
cat >"$WORK/bin/dpkg-query" <<'SH'
#!/bin/sh
for last in "$@"; do :; done
grep -qx "$last" "$STANDIN_INSTALLED" 2>/dev/null && printf 'install ok installed'
exit 0
SH
cat >"$WORK/bin/dpkg" <<'SH'
#!/bin/sh
echo "dpkg $*" >>"$STANDIN_LOG"
SH
# Wine is not run here; only whether the tools would ask for it.
printf '#!/bin/sh\nexit 0\n' >"$WORK/bin/sleep"
chmod +x "$WORK/bin/"*

passed=0
failed=0
# check NAME EXPECTED-STATUS KERNEL-32BIT ENV... -- GREP-OF-LOG [!GREP]...:
# runs the tools' package step with the stand-ins, then checks its exit
# status and what it asked apt and dpkg (a leading ! means "never asked").
check() {
  local name=$1 expected=$2 kernel32=$3 status=0 ok=1 pattern
  shift 3
  local envs=()
  while [ "$1" != -- ]; do envs+=("$1"); shift; done
  shift
  export STANDIN_LOG="$WORK/$name.log" STANDIN_INSTALLED="$WORK/$name.installed"
  : >"$STANDIN_LOG"
  env "${envs[@]}" PATH="$WORK/bin:$PATH" bash -c '
    source "$1/tools/lib/common.sh"
    kernel32=$2
    as_root() { "$@"; }
    kernel_runs_32bit() { [ "$kernel32" = yes ]; }
    ensure_packages "${BUILD_PACKAGES[@]}" "${WINE_PACKAGES[@]}"
    setup_wine
    echo "CAN_RUN_32BIT=$CAN_RUN_32BIT ($NO_32BIT_REASON)"
  ' _ "$ROOT" "$kernel32" >"$WORK/$name.out" 2>&1 || status=$?
  [ "$status" -eq "$expected" ] || ok=0
  for pattern in "$@"; do
    case $pattern in
      !*) ! grep -q -- "${pattern#!}" "$STANDIN_LOG" "$WORK/$name.out" || ok=0 ;;
      *) grep -q -- "$pattern" "$STANDIN_LOG" "$WORK/$name.out" || ok=0 ;;
    esac
  done
  if [ "$ok" = 1 ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $name (exit status $status, expected $expected)"
    cat "$STANDIN_LOG" "$WORK/$name.out"
  fi
}

check no-32bit-kernel 0 no -- "apt-get install .*wine64" "not every package list" \
  "CAN_RUN_32BIT=0 (this machine cannot run" '!wine32' '!add-architecture'
check wine32-refused 0 yes -- "dpkg --add-architecture i386" "apt-get install .*wine32:i386" \
  "CAN_RUN_32BIT=0 (wine32:i386 could not be installed: E: Unable to correct"
check wine32-required 1 yes ZARVELO_REQUIRE_32BIT=1 -- "cannot run here: wine32:i386 could not"
check needed-package-refused 1 no STANDIN_REFUSE=xvfb -- "Could not install .*xvfb.*: E: Unable"

echo "install step: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
