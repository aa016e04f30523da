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

# Installs the Debian packages the given step needs, only when missing.
ensure_packages() {
  local missing=()
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "ok installed" || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "Installing ${missing[*]}"
  if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
    dpkg --print-foreign-architectures | grep -qx i386 || as_root dpkg --add-architecture i386
  fi
  quietly as_root apt-get update -q
  quietly as_root env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# openssl turns a publisher key (ZARVELO_PAYLOAD_PUBLIC_KEY) into the key the
# installer carries. The release test signs through a SoftHSM token
# (softhsm2, opensc's pkcs11-tool, and the PKCS#11 engine osslsigncode uses).
BUILD_PACKAGES=(cmake ninja-build g++ googletest g++-mingw-w64-x86-64 g++-mingw-w64-i686 openssl
                softhsm2 opensc libengine-pkcs11-openssl)
WINE_PACKAGES=(wine wine64 wine32:i386 fonts-wine xvfb xauth locales fonts-noto-cjk
               fonts-arphic-uming imagemagick python3 openssl procps)

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

# Some machines of our kind run kernels that cannot start 32-bit programs.
# Debian's wine, wine-stable and wineboot start Wine's 32-bit loader whenever
# wine32 is installed, and fail there with "Exec format error". On such a
# machine tools/lib/wine64 goes first in PATH: its wine starts 64-bit programs
# through the 64-bit loader, and 32-bit programs cannot run at all.
# ZARVELO_NO_32BIT=1 makes a machine that can run them behave as one that
# can't, to try this out.
setup_wine() {
  CAN_RUN_32BIT=1
  if [ "${ZARVELO_NO_32BIT:-0}" = 1 ] || ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    CAN_RUN_32BIT=0
    case ":$PATH:" in
      *":$ROOT/tools/lib/wine64:"*) ;;
      *) export PATH="$ROOT/tools/lib/wine64:$PATH" ;;
    esac
  fi
}
NO_32BIT_REASON="this machine cannot run 32-bit programs"

# The run of a build that treats every function newer than Windows 7 as
# absent (x64-win7), and the programs it needs: the installer's window, DPI
# and install cases, with the test server's CA helper.
WIN7_TARGETS=(installer_tests install_tests trust_test_ca)
WIN7_TESTS='InstallerLayout\.|InstallerInstall\.'

# build_preset NAME [TARGET...]: configures and builds one CMake preset of
# this checkout, from whatever folder the tool was started in (cmake looks for
# the presets file in the current folder).
build_preset() {
  local preset=$1
  shift
  pushd "$ROOT" >/dev/null
  quietly cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$(nproc)" ${1:+--target "$@"}
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

# start_xvfb: an X display for Wine's windows, stopped when the script exits.
start_xvfb() {
  local display
  for display in $(seq 91 140); do
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
