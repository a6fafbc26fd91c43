#!/usr/bin/env bash
# Prepares this machine for ./dev: installs from Debian's packages what the
# named sets need and is missing, and keeps what those packages would start
# from ever running here (Samba's servers, dunst's user service). Needs root
# or sudo for anything it installs; quiet when all is there.
#   tools/prepare_host.sh SET...   (build, run, debs, test, package, boot-check, wine32)
set -euo pipefail

# Packages the build needs on any Linux machine.
BUILD_PACKAGES=(cmake make g++ pkg-config libgtest-dev libgmock-dev)
# Packages only the tests need, by part.
CORE_TEST_PACKAGES=()
# The window on Linux.
QT_PACKAGES=(qt6-base-dev libfontconfig-dev libpng-dev fonts-liberation)
QT_TEST_PACKAGES=(xvfb xauth fonts-dejavu-core)
# The network send on Linux and its real peers.
NET_TEST_PACKAGES=(samba smbclient tshark iproute2 procps python3 clang libclang-rt-14-dev time)
# Receiving on Linux: Samba runs vindrel-drop, vindrel-inbox runs on Xvfb as
# another user (setpriv), xdotool finds its pop-up.
INBOX_TEST_PACKAGES=(samba xvfb xdotool util-linux)
# The receiving service: its peers in the lab (smbclient, nmblookup, setpriv)
# and systemd-analyze, which checks its units offline. Nothing of it is
# enabled or started on this machine.
VINDRELD_TEST_PACKAGES=(samba smbclient util-linux systemd)
# The inbox on today's desktops: a session bus of the tests' own with
# python3-dbusmock's notification daemon, dunst (a real notification server)
# on Xvfb, weston's headless compositor and Qt's Wayland plugin.
INBOX_DESKTOP_TEST_PACKAGES=(dbus-daemon python3-dbusmock dunst weston qt6-wayland)
# What those bring that could start on its own: dunst's user unit, and its
# D-Bus activation file, which would start it on any session bus.
PACKAGED_USER_SERVICES=(dunst)
DBUS_ACTIVATION_FILES=(/usr/share/dbus-1/services/org.knopwob.dunst.service)
# The Windows build and its tests under Wine.
WIN_PACKAGES=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix googletest icoutils python3
  python3-pefile wine64 xvfb xdotool libx11-6 libxfixes3 libc6-i386)
# 32-bit Wine, for the 32-bit program, where the machine runs 32-bit programs.
WIN32_WINE_PACKAGES=(wine32:i386)
# Servers that packages above enable and that must never run on this
# machine's real network: Samba is only a peer inside the tests' namespaces.
PACKAGED_SERVICES=(smbd nmbd samba-ad-dc)
# Making and checking the packages (the build's own packages come from the
# arrays above, Debian's build dependencies included).
PACKAGE_PACKAGES=(debhelper dpkg-dev fakeroot lintian ccache wixl msitools util-linux)
# The boot check: a Debian root made with debootstrap and booted with
# systemd-nspawn; Samba's client tools send to it from the lab (Samba's
# servers are only there because the lab's harness wants them).
BOOT_CHECK_PACKAGES=(debootstrap systemd-container samba smbclient iproute2 util-linux python3)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; elif command -v sudo >/dev/null; then sudo "$@"; else
    echo "prepare_host: need root (or sudo) to install: $*" >&2; return 1; fi
}

# Installs the named packages that are not installed yet; quiet when all are.
ensure_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "dev: installing ${missing[*]}"
  # Samba is only a peer inside the tests' own namespaces: keep its package
  # from starting daemons on this machine's real network.
  local guard=/usr/sbin/policy-rc.d placed=
  if [ ! -e "$guard" ]; then
    printf '#!/bin/sh\nexit 101\n' | as_root tee "$guard" >/dev/null && as_root chmod +x "$guard"
    placed=1
  fi
  local rc=0
  # Another install may hold dpkg's lock for a while: wait for it rather than fail.
  as_root apt-get update -qq -o DPkg::Lock::Timeout=600 &&
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
      -o DPkg::Lock::Timeout=600 \
      "${missing[@]}" >/dev/null || rc=$?
  [ -n "$placed" ] && as_root rm -f "$guard"
  return $rc
}

# Keeps the packaged servers from starting at the next boot or upgrade:
# masked for systemd (systemctl only changes links, so it works without a
# running systemd; the link is made by hand where systemctl is unusable) and
# disabled for sysvinit. Does nothing once that is so.
keep_services_off() {
  local unit
  for unit in "${PACKAGED_SERVICES[@]}"; do
    if [ -e "/lib/systemd/system/$unit.service" ] &&
      [ "$(readlink "/etc/systemd/system/$unit.service" 2>/dev/null)" != /dev/null ]; then
      echo "dev: masking $unit"
      if command -v systemctl >/dev/null; then
        as_root systemctl disable --quiet "$unit" >/dev/null 2>&1 || true
      fi
      as_root systemctl mask --quiet "$unit" >/dev/null 2>&1 ||
        { as_root mkdir -p /etc/systemd/system &&
          as_root ln -sfn /dev/null "/etc/systemd/system/$unit.service"; }
    fi
    if [ -e "/etc/init.d/$unit" ] && command -v update-rc.d >/dev/null &&
      compgen -G "/etc/rc[2-5].d/S*$unit" >/dev/null; then
      echo "dev: disabling $unit"
      as_root update-rc.d "$unit" disable >/dev/null 2>&1 || echo "dev: could not disable $unit" >&2
    fi
  done
}

# Keeps the packaged user services from starting: masked for every user's
# systemd, and their D-Bus activation files diverted out of the bus's sight.
keep_user_services_off() {
  local unit file
  for unit in "${PACKAGED_USER_SERVICES[@]}"; do
    if [ -e "/usr/lib/systemd/user/$unit.service" ] &&
      [ "$(readlink "/etc/systemd/user/$unit.service" 2>/dev/null)" != /dev/null ]; then
      echo "dev: masking the user service $unit"
      as_root mkdir -p /etc/systemd/user && as_root ln -sfn /dev/null "/etc/systemd/user/$unit.service"
    fi
  done
  for file in "${DBUS_ACTIVATION_FILES[@]}"; do
    if [ -e "$file" ]; then
      echo "dev: diverting $file"
      as_root dpkg-divert --quiet --local --rename --divert "$file.vindrel-off" --add "$file"
    fi
  done
}

# Whether this machine runs 32-bit x86 programs (the kernel may lack the
# 32-bit entry); libc6-i386's loader is a 32-bit program.
runs_32_bit() {
  [ -x /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

# Installs 32-bit Wine from Debian's i386 packages, where the machine runs
# 32-bit programs; may upgrade some amd64 packages to the matching versions.
ensure_wine32() {
  runs_32_bit || return 0
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "dev: adding the i386 architecture for 32-bit Wine"
    as_root dpkg --add-architecture i386
  fi
  ensure_packages "${WIN32_WINE_PACKAGES[@]}"
}

# The packages of one set, by name.
set_packages() {  # set
  case "$1" in
    build) echo "${BUILD_PACKAGES[@]}" ;;
    run) echo "${BUILD_PACKAGES[@]} ${QT_PACKAGES[@]}" ;;
    # What the package build with the tests in it needs, and nothing more:
    # ./dev test starts it while the rest is installed.
    debs) echo "${BUILD_PACKAGES[@]} ${QT_PACKAGES[@]} ${PACKAGE_PACKAGES[@]}" ;;
    test) echo "${BUILD_PACKAGES[@]} ${CORE_TEST_PACKAGES[@]} ${QT_PACKAGES[@]} ${QT_TEST_PACKAGES[@]}" \
      "${NET_TEST_PACKAGES[@]} ${INBOX_TEST_PACKAGES[@]} ${WIN_PACKAGES[@]} ${VINDRELD_TEST_PACKAGES[@]}" \
      "${INBOX_DESKTOP_TEST_PACKAGES[@]} ${PACKAGE_PACKAGES[@]}" ;;
    package) echo "${BUILD_PACKAGES[@]} ${QT_PACKAGES[@]} ${WIN_PACKAGES[@]} ${PACKAGE_PACKAGES[@]}" ;;
    boot-check) echo "${BOOT_CHECK_PACKAGES[@]}" ;;
    wine32) ;;
    *) echo "prepare_host: no set $1 (build, run, debs, test, package, boot-check, wine32)" >&2; return 2 ;;
  esac
}

[ $# -gt 0 ] || { echo "usage: tools/prepare_host.sh SET..." >&2; exit 2; }
packages=()
for set in "$@"; do
  # shellcheck disable=SC2207  # package names have no spaces
  packages+=($(set_packages "$set"))
done
ensure_packages "${packages[@]}"
for set in "$@"; do
  case "$set" in test|wine32) ensure_wine32 ;; esac
done
keep_services_off
keep_user_services_off
