# Shared by tools/build, tools/run, tools/test and tools/bench. Sourced, not run.
# shellcheck shell=bash
set -Eeuo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
EXE_NAME="Zarvelo _Plugin_for_cdr.exe"

# log names the step under way, so that a failure can say which one failed.
STEP="starting"
log() {
  STEP="$*"
  printf '\033[1m==> %s\033[0m\n' "$*" >&2
}

# The command that quietly saw fail: it names the failure better than
# quietly's own "return".
FAILED_COMMAND=
step_failed() {
  local command=$2
  [ "$command" != 'return "$status"' ] || command=$FAILED_COMMAND
  printf '\033[1;31m==> Failed: %s\033[0m\n    (exit status %s from: %s)\n' \
    "$STEP" "$1" "$command" >&2
}
trap 'step_failed $? "$BASH_COMMAND"' ERR

# quietly CMD...: runs CMD with its output kept aside; when CMD fails, the end
# of that output is shown, and where the whole of it is.
quietly() {
  local out status=0
  out=$(mktemp /tmp/zarvelo-step.XXXXXX)
  "$@" >"$out" 2>&1 || status=$?
  if [ "$status" -eq 0 ]; then
    rm -f "$out"
    return 0
  fi
  FAILED_COMMAND="$*"
  {
    echo "--- the last lines of: $*"
    tail -n 25 "$out"
    echo "--- (all of it: $out)"
  } >&2
  return "$status"
}

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# Package lists are fetched once per run, each try up to three times. A
# mirror in mid-sync can serve one index with the wrong size: that index is
# reported in one line and the rest is used; a package that only it lists
# fails to install below, and is named there.
APT_UPDATED=
apt_update() {
  [ -z "$APT_UPDATED" ] || return 0
  APT_UPDATED=1
  local out try
  out=$(mktemp /tmp/zarvelo-apt.XXXXXX)
  for try in 1 2 3; do
    if as_root apt-get update -q >"$out" 2>&1; then
      rm -f "$out"
      return 0
    fi
    [ "$try" -eq 3 ] || sleep $((try * 5))
  done
  printf 'warning: not every package list could be fetched; going on with the others (%s)\n' \
    "$(grep -m 1 -E '^(E|W): ' "$out" || tail -n 1 "$out")" >&2
  rm -f "$out"
}

# apt_install PKG...: installs the packages; on failure APT_REASON holds
# apt's own words for it.
APT_REASON=
apt_install() {
  local out status=0
  out=$(mktemp /tmp/zarvelo-apt.XXXXXX)
  as_root env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q --no-install-recommends "$@" >"$out" 2>&1 || status=$?
  APT_REASON=$(grep -E '^E: ' "$out" | head -n 3 | paste -s -d ' ' -)
  [ -n "$APT_REASON" ] || APT_REASON=$(tail -n 3 "$out" | paste -s -d ' ' -)
  rm -f "$out"
  return "$status"
}

missing_packages() {
  local pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "ok installed" || echo "$pkg"
  done
}

# Installs the Debian packages the given step needs, only when missing, and
# stops the step, naming them and apt's reason, when they cannot be had.
ensure_packages() {
  local missing
  mapfile -t missing < <(missing_packages "$@")
  [ ${#missing[@]} -eq 0 ] && return 0
  log "Installing ${missing[*]}"
  apt_update
  apt_install "${missing[@]}" && return 0
  FAILED_COMMAND="apt-get install ${missing[*]}"
  printf 'Could not install %s: %s\n' "${missing[*]}" "$APT_REASON" >&2
  return 1
}

# openssl turns a publisher key (ZARVELO_PAYLOAD_PUBLIC_KEY) into the key the
# installer carries.
BUILD_PACKAGES=(cmake ninja-build g++ googletest g++-mingw-w64-x86-64 g++-mingw-w64-i686 openssl)
# wine32 (for the x86 installer) is asked for apart, by setup_wine, and only
# where the kernel can start 32-bit programs. tools/test brings up the
# loopback of each Wine group's own network namespace with iproute2's ip.
WINE_PACKAGES=(wine wine64 fonts-wine xvfb xauth locales fonts-noto-cjk
               fonts-arphic-uming imagemagick python3 openssl procps iproute2)

# Wine takes its code page (936) and language (0x0804) from a generated Unix
# locale only.
ensure_chinese_locale() {
  if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
    log "Generating the zh_CN.UTF-8 locale"
    as_root sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
    quietly as_root locale-gen
  fi
}

# Whether the kernel starts 32-bit x86 programs, asked without Wine or any
# package: a 93-byte i386 program that only exits 0 (ELF header, one
# program header, then xor ebx,ebx; mov eax,1; int 0x80). Kernels without
# 32-bit support refuse it with "Exec format error". It is written beside
# the builds, since /tmp may be mounted noexec.
kernel_runs_32bit() {
  local probe status=0
  mkdir -p "$ROOT/build"
  probe=$(mktemp "$ROOT/build/.i386-probe.XXXXXX")
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\x31\xdb\xb8\x01\x00\x00\x00\xcd\x80' >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null || status=$?
  rm -f "$probe"
  return "$status"
}

# Decides whether the x86 installer can run here, installing wine32 where it
# can (CAN_RUN_32BIT; NO_32BIT_REASON says why not). Debian's wine,
# wine-stable and wineboot start Wine's 32-bit loader whenever wine32 is
# installed; without it, or on a kernel that refuses it, tools/lib/wine64
# goes first in PATH: its wine starts 64-bit programs through the 64-bit
# loader, and 32-bit programs cannot run at all. ZARVELO_NO_32BIT=1 makes a
# machine that can run them behave as one that can't, to try this out;
# ZARVELO_REQUIRE_32BIT=1 makes "cannot" a failure, for a machine that must
# test x86.
setup_wine() {
  CAN_RUN_32BIT=0
  NO_32BIT_REASON="this machine cannot run 32-bit programs"
  if [ "${ZARVELO_NO_32BIT:-0}" = 1 ]; then
    NO_32BIT_REASON="ZARVELO_NO_32BIT=1"
  elif kernel_runs_32bit; then
    if [ -z "$(missing_packages wine32:i386)" ] || install_wine32; then
      CAN_RUN_32BIT=1
    fi
  fi
  if [ "$CAN_RUN_32BIT" = 0 ]; then
    case ":$PATH:" in
      *":$ROOT/tools/lib/wine64:"*) ;;
      *) export PATH="$ROOT/tools/lib/wine64:$PATH" ;;
    esac
    if [ "${ZARVELO_REQUIRE_32BIT:-0}" = 1 ]; then
      log "Setting up Wine for the x86 installer (ZARVELO_REQUIRE_32BIT=1)"
      echo "The x86 installer cannot run here: $NO_32BIT_REASON" >&2
      return 1
    fi
  fi
}

# wine32 comes from the i386 architecture, whose libraries must match the
# amd64 ones exactly: a mirror in mid-sync may not have them.
install_wine32() {
  log "Installing wine32:i386"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
    APT_UPDATED=
  fi
  apt_update
  apt_install wine32:i386 && return 0
  NO_32BIT_REASON="wine32:i386 could not be installed: $APT_REASON"
  return 1
}

# The build that treats every function newer than Windows 7 as absent
# (x64-win7), and the programs its runs need: the installer's window, DPI
# and install cases, with the test server's CA helper. tools/test runs its
# layout cases and the install cases that take that build's own branches:
# TLS 1.2 asked for alone (any install), System32's DLLs loaded by full
# path, the proxy worked out by the installer itself; tools/coverage runs
# every install case.
WIN7_TARGETS=(installer_tests install_tests trust_test_ca)
WIN7_TESTS='InstallerLayout\.|InstallerInstall\.'
WIN7_INSTALL_TESTS='^InstallerInstall\.(DllsPlantedBesideTheInstallerAreNeverLoaded|WithAKeyOnlyAPluginItSignedIsInstalled|RetryAfterAFailureInstalls|DownloadsGoThroughTheProxyTheSettingsName)$'

# build_preset NAME [TARGET...]: configures and builds one CMake preset of
# this checkout, from whatever folder the tool was started in (cmake looks for
# the presets file in the current folder).
build_preset() {
  local preset=$1
  shift
  pushd "$ROOT" >/dev/null
  # One build of a folder at a time: tools/test builds the native preset
  # while its release test may run tools/check-host, which builds there too.
  local lock
  mkdir -p "$ROOT/build"
  exec {lock}>"$ROOT/build/.$preset.lock"
  flock "$lock"
  quietly cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$(nproc)" ${1:+--target "$@"}
  exec {lock}>&-
  popd >/dev/null
}

# new_wine_prefix DIR [DPI]: a fresh, quiet Wine prefix in Chinese (PRC) at
# DIR, at the given DPI (default 96). The fonts stand in for a Chinese
# Windows: a Song face with SimSun's metrics for "宋体", a sans face for the
# system's message font.
new_wine_prefix() {
  export WINEPREFIX="$1" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  # A shell started before the locale was generated warns that it cannot
  # switch itself; Wine, started afterwards, can.
  export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 2>/dev/null
  rm -rf "$WINEPREFIX"
  quietly wineboot -i
  # Wine draws the title-bar buttons with Marlett. In a Chinese locale it
  # does not find the copy in its own data folder and falls back to a CJK
  # face, which shows them as "0 1 r"; one in the prefix's Fonts is found.
  cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
  local dpi=${2:-96}
  quietly wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
  quietly wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f
  quietly wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 宋体 /t REG_SZ \
    /d "AR PL UMing CN" /f
  for face in SimSun "Microsoft YaHei" 微软雅黑 Tahoma "MS Shell Dlg" "MS Shell Dlg 2"; do
    quietly wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /t REG_SZ \
      /d "Noto Sans CJK SC" /f
  done
  wineserver -k 2>/dev/null || true
}

# start_xvfb [FIRST]: an X display for Wine's windows, the first free one
# from FIRST (default 91) on; stop_xvfb stops it.
start_xvfb() {
  local display first=${1:-91}
  for display in $(seq "$first" $((first + 49))); do
    [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ] || break
  done
  Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  export DISPLAY=":$display"
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && return 0; sleep 0.1; done
  echo "Xvfb did not start" >&2
  return 1
}

stop_xvfb() { [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true; }

# The Windows path of a Unix path, through Wine's Z: drive.
winpath() { printf 'Z:%s' "${1//\//\\}"; }
