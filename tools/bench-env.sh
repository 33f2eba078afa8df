# Shared set-up for tools/testbench, tools/demo and bench scripts: packages,
# build, Xvfb display and Wine prefix. Source it, then call the functions.

QP_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QP_BUILD=${BUILD_DIR:-$QP_ROOT/build}
case "$QP_BUILD" in /*) ;; *) QP_BUILD=$QP_ROOT/$QP_BUILD ;; esac
export QP_BUILD
export QP_WINEPREFIX=${QP_WINEPREFIX:-$QP_BUILD/wineprefix}
export WINEPREFIX=$QP_WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=C.UTF-8
export DEBIAN_FRONTEND=noninteractive

# nsis builds the installer; fonts-wine has Wine's Tahoma; tcpdump and
# python3-openssl serve the FTPS tests; iproute2's ss shows the control
# connection's keep-alive timer. The libraries at the end are what
# the unpacked proftpd (FTP proxy tests) needs; proftpd itself conflicts with
# vsftpd and is unpacked, not installed.
QP_PACKAGES=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix cmake make wine wine32:i386
  wine64 xvfb xauth xclip xdotool python3-pyftpdlib vsftpd imagemagick googletest curl zip
  procps iproute2 file nsis fonts-wine strace tcpdump python3-openssl
  libhiredis0.14 libmemcached11 libmemcachedutil2 libpcre2-posix3 libsodium23 libsqlite3-0)

# The product is the 32-bit build. Some hosts cannot execute 32-bit code at
# all (the kernel refuses i386 ELF), and there Wine cannot run a 32-bit
# program either; the tests then run the same sources built for x86_64.
qp_pick_arch() {
  if [ -n "${QP_ARCH:-}" ]; then return 0; fi
  if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then QP_ARCH=i686; else QP_ARCH=x86_64; fi
  export QP_ARCH
}

qp_install_packages() {
  local missing=()
  for p in "${QP_PACKAGES[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "testbench: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  apt-get update -qq </dev/null
  apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null >/dev/null
}

qp_build() {
  qp_pick_arch
  cmake -S "$QP_ROOT" -B "$QP_BUILD" -DQP_ARCH="$QP_ARCH" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$QP_BUILD" -j "${QP_BUILD_JOBS:-2}"
}

# The shipped 32-bit programs, without tests.
qp_build_product() {
  local dir=$QP_ROOT/build-product
  cmake -S "$QP_ROOT" -B "$dir" -DQP_ARCH=i686 -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$dir" -j "${QP_BUILD_JOBS:-2}"
}

QP_XVFB_PID=
qp_start_display() {
  # QP_DISPLAY names a display to reuse (a developer's own Xvfb).
  if [ -n "${QP_DISPLAY:-}" ]; then export DISPLAY=$QP_DISPLAY; return 0; fi
  local n=90
  while [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 </dev/null &
  QP_XVFB_PID=$!
  export DISPLAY=":$n"
  for _ in $(seq 1 100); do
    [ -e /tmp/.X11-unix/X$n ] && return 0
    sleep 0.1
  done
  echo "testbench: Xvfb did not start" >&2
  return 1
}

# Boots the prefix at every run, new or old. wineserver and Wine's services
# (services.exe, winedevice.exe, plugplay.exe, svchost.exe, rpcss.exe) keep
# the Unix standard error of whoever starts them first and outlive it; left
# to the first test, they hold ctest's pipe until the test's time limit.
# `wineserver -p` puts itself in the background once its socket is ready, so
# every later Wine process finds it instead of starting its own.
qp_start_wine() {
  mkdir -p "$QP_WINEPREFIX"
  wineserver -p >/dev/null 2>&1 </dev/null || true  # exit 2: one runs already
  local init=()
  [ -f "$QP_WINEPREFIX/system.reg" ] || init=(-i)
  "$QP_ROOT/tools/wine-run" wineboot "${init[@]}" >/dev/null 2>&1 </dev/null
  # Tahoma, the face of Quillpost's windows, lies in every Windows fonts
  # folder. Debian's Wine does not load the copy in its data folder
  # (fonts-wine), so the prefix gets it where Windows has it; otherwise Wine
  # draws DejaVu Sans instead.
  cp -u /usr/share/wine/fonts/tahoma.ttf /usr/share/wine/fonts/tahomabd.ttf \
    "$QP_WINEPREFIX/drive_c/windows/Fonts/"
}

# Windows always has its desktop. Wine ends its desktop process (explorer.exe,
# which also keeps the clipboard) a moment after the last Windows program, so
# a clipboard read after the program under test has ended could find it
# empty. One program that waits (`winctl desktop`, given as $1) keeps the
# desktop for the whole run; its output goes nowhere, as it would hold a pipe.
QP_DESKTOP_PID=
qp_keep_desktop() {
  "$QP_ROOT/tools/wine-run" "$1" desktop >/dev/null 2>&1 </dev/null &
  QP_DESKTOP_PID=$!
}

qp_cleanup() {
  if [ -n "$QP_DESKTOP_PID" ]; then kill "$QP_DESKTOP_PID" 2>/dev/null || true; fi
  wineserver -k >/dev/null 2>&1 </dev/null || true
  if [ -n "$QP_XVFB_PID" ]; then kill "$QP_XVFB_PID" 2>/dev/null || true; fi
}
