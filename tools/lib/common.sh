# Shared by tools/build, tools/run, tools/test and tools/bench. Sourced, not run.
# shellcheck shell=bash
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
EXE_NAME="Zarvelo _Plugin_for_cdr.exe"

log() { printf '\033[1m==> %s\033[0m\n' "$*" >&2; }

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
  as_root apt-get update -q
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

BUILD_PACKAGES=(cmake ninja-build g++ googletest g++-mingw-w64-x86-64 g++-mingw-w64-i686)
WINE_PACKAGES=(wine wine64 wine32:i386 fonts-wine xvfb xauth locales fonts-noto-cjk
               fonts-arphic-uming imagemagick python3 openssl procps)

# Wine takes its code page (936) and language (0x0804) from a generated Unix
# locale only.
ensure_chinese_locale() {
  if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
    log "Generating the zh_CN.UTF-8 locale"
    as_root sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
    as_root locale-gen >/dev/null
  fi
}

# build_preset NAME: configures and builds one CMake preset.
build_preset() {
  cmake --preset "$1" -S "$ROOT" >/dev/null
  cmake --build --preset "$1" -j "$(nproc)"
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
  wineboot -i >/dev/null 2>&1
  local dpi=${2:-96}
  {
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 宋体 /t REG_SZ /d "AR PL UMing CN" /f
    for face in SimSun "Microsoft YaHei" 微软雅黑 Tahoma "MS Shell Dlg" "MS Shell Dlg 2"; do
      wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /t REG_SZ /d "Noto Sans CJK SC" /f
    done
  } >/dev/null 2>&1
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
