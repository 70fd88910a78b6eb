#!/usr/bin/env bash
# Builds the Debian package, checks it with lintian, installs it with apt-get
# as a user would, checks what it installed and removes it again.
# Needs root (or sudo) for apt-get. Usage: tools/ci-package.sh
set -euo pipefail
cd "$(dirname "$0")/.."

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

packages=(g++ make cmake qtbase5-dev qttools5-dev-tools qttools5-dev dpkg-dev file lintian)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  as_root apt-get update
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi

# Debian's hardening flags, as debhelper would pass them; without debug
# information, which the package strips anyway.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
export DEB_CXXFLAGS_MAINT_STRIP=-g
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)

build=build-deb
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release \
  -DORVALEN_BUILD_TESTS=OFF -DORVALEN_BUILD_BENCH=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags"
cmake --build "$build" -j"$jobs"
rm -f "$build"/orvalen_*.deb
(cd "$build" && cpack -G DEB)

version=$(sed -n 's/^project(Orvalen VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb="$build/orvalen_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { echo "ci-package: $deb was not made" >&2; ls "$build"/*.deb >&2 || true; exit 1; }
dpkg-deb --info "$deb"
# The library dependencies come from dpkg-shlibdeps.
dpkg-deb --field "$deb" Depends | grep -q 'libqt5core5a' \
  || { echo "ci-package: no library dependencies in $deb" >&2; exit 1; }

# Without Qt's translations the file dialogs and Cancel stay English.
dpkg-deb --field "$deb" Recommends | grep -qw 'qttranslations5-l10n' \
  || { echo "ci-package: $deb does not recommend qttranslations5-l10n" >&2; exit 1; }

# Errors fail the run; warnings and notes are shown for the reader.
lintian --display-info --fail-on error "$deb"

installed=false
cleanup() {
  if ${scrub_made:-false}; then
    as_root rm -rf /srv/photos /etc/orvalen/photos.conf /var/lib/orvalen/photos
    as_root rmdir /etc/orvalen 2>/dev/null || true
    scrub_made=false
  fi
  if $installed; then
    as_root env DEBIAN_FRONTEND=noninteractive apt-get remove -y --purge orvalen
  fi
  if [ -n "${scratch:-}" ]; then rm -rf "$scratch"; fi
}
trap cleanup EXIT
as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y "./$deb"
installed=true

expected=(
  /usr/bin/orvalen
  /usr/bin/orvalen-cli
  /usr/share/applications/com.varnock.Orvalen.desktop
  /usr/share/metainfo/com.varnock.Orvalen.metainfo.xml
  /usr/share/icons/hicolor/scalable/apps/orvalen.svg
  /usr/share/icons/hicolor/16x16/apps/orvalen.png
  /usr/share/icons/hicolor/22x22/apps/orvalen.png
  /usr/share/icons/hicolor/24x24/apps/orvalen.png
  /usr/share/icons/hicolor/32x32/apps/orvalen.png
  /usr/share/icons/hicolor/48x48/apps/orvalen.png
  /usr/share/icons/hicolor/64x64/apps/orvalen.png
  /usr/share/icons/hicolor/128x128/apps/orvalen.png
  /usr/share/icons/hicolor/256x256/apps/orvalen.png
  /usr/share/icons/hicolor/512x512/apps/orvalen.png
  /usr/share/orvalen/translations/orvalen_de.qm
  /usr/share/orvalen/translations/orvalen_ru.qm
  /usr/share/man/man1/orvalen.1.gz
  /usr/share/man/man1/orvalen-cli.1.gz
  /usr/share/bash-completion/completions/orvalen-cli
  /usr/share/zsh/vendor-completions/_orvalen-cli
  /usr/share/fish/vendor_completions.d/orvalen-cli.fish
  /usr/share/doc/orvalen/copyright
  /usr/share/doc/orvalen/changelog.gz
  /usr/share/doc/orvalen/examples/photos.conf
  "/usr/lib/systemd/system/orvalen-verify@.service"
  "/usr/lib/systemd/system/orvalen-verify@.timer"
  /usr/lib/tmpfiles.d/orvalen.conf
)
absent=0
for f in "${expected[@]}"; do
  [ -f "$f" ] || { echo "ci-package: $f is missing" >&2; absent=1; }
done
[ "$absent" -eq 0 ]

/usr/bin/orvalen-cli --version | grep -F "$version"
for program in /usr/bin/orvalen /usr/bin/orvalen-cli; do
  if ldd "$program" | grep 'not found'; then
    echo "ci-package: $program lacks libraries the package does not depend on" >&2
    exit 1
  fi
done

# The units as installed, naming the installed program. A warning alone
# leaves the exit status 0, so any message fails.
if command -v systemd-analyze >/dev/null; then
  report=$(systemd-analyze verify --man=no --recursive-errors=no \
               orvalen-verify@ci.service orvalen-verify@ci.timer 2>&1) \
    && [ -z "$report" ] \
    || { echo "ci-package: systemd-analyze verify: $report" >&2; exit 1; }
fi

# One round trip through the installed program, away from the build folder
# so that the translations can only come from the installed ones.
scratch=$(mktemp -d)
mkdir "$scratch/tree"
echo "The quick brown fox jumps over the lazy dog" > "$scratch/tree/fox.txt"
(
  cd "$scratch"
  /usr/bin/orvalen-cli -q create tree tree.sha256
  /usr/bin/orvalen-cli -q verify tree tree.sha256
  english=$(LC_ALL=C /usr/bin/orvalen-cli verify missing tree.sha256 2>&1 || true)
  german=$(LC_ALL=de_DE.UTF-8 /usr/bin/orvalen-cli verify missing tree.sha256 2>&1 || true)
  [ -n "$english" ] && [ "$english" != "$german" ] \
    || { echo "ci-package: the installed German translation was not used" >&2; exit 1; }
)

# The scrub as orvalen-cli(1) EXAMPLES sets it up, its lines run as written;
# without systemd as PID 1 the systemctl and journalctl lines are left out
# and the service's command lines are run by hand, as systemd expands them.
if command -v systemd-tmpfiles >/dev/null; then
  [ -d /var/lib/orvalen ] || { echo "ci-package: installing did not make /var/lib/orvalen" >&2; exit 1; }
fi
if [ -e /srv/photos ] || [ -e /etc/orvalen/photos.conf ] || [ -e /var/lib/orvalen/photos ]; then
  echo "ci-package: a scrub of /srv/photos is set up here already; its set-up is not run"
else
  scrub_made=true
  as_root mkdir -p /srv/photos
  echo "The quick brown fox jumps over the lazy dog" | as_root tee /srv/photos/fox.txt >/dev/null
  mapfile -t setup < <(zcat /usr/share/man/man1/orvalen-cli.1.gz |
    sed -n '/^\.\\" The lines up to the next \.fi are run as written/,/^\.fi$/p' | sed -e '1d' -e '$d' -e 's/\\-/-/g')
  [ ${#setup[@]} -ge 5 ] || { echo "ci-package: no set-up found in orvalen-cli(1)" >&2; exit 1; }
  for line in "${setup[@]}"; do
    case $line in
      systemctl* | journalctl*) [ -d /run/systemd/system ] || { echo "left out: $line"; continue; } ;;
    esac
    echo "+ $line"
    as_root env DEBIAN_FRONTEND=noninteractive bash -ec "$line" </dev/null \
      || { echo "ci-package: the documented command failed: $line" >&2; exit 1; }
  done
  if [ ! -d /run/systemd/system ]; then
    unit=/usr/lib/systemd/system/orvalen-verify@.service
    run_service() {
      as_root bash -c '
        unit=$1
        fallback() { sed -n "s/^Environment=\"$1=\(.*\)\"$/\1/p" "$unit" | sed -e "s|%S|/var/lib|g" -e "s|%i|photos|g"; }
        OPTIONS=$(fallback OPTIONS) CHECKSUMS_FILE=$(fallback CHECKSUMS_FILE) STATE_FILE=$(fallback STATE_FILE)
        set -a; . /etc/orvalen/photos.conf; set +a
        sed -n "s/^ExecStart=//p" "$unit" | sed "s/\${\([A-Z_]*\)}/\"\${\1}\"/g" | while read -r line; do
          eval "$line" || exit
        done' sh "$unit"
    }
    echo "new" | as_root tee /srv/photos/new.txt >/dev/null
    run_service || { echo "ci-package: the service's commands failed on the documented set-up" >&2; exit 1; }
    as_root grep -q " new\.txt"$'\r'"$" /var/lib/orvalen/photos/photos.sha256 \
      || { echo "ci-package: the service's update did not take in a new file" >&2; exit 1; }
  fi
fi

# The settings file the desktop program writes when run as root survives a
# remove, as configuration does, and goes with a purge.
settings=/etc/xdg/Varnock/Orvalen.ini
as_root mkdir -p "$(dirname "$settings")"
printf '[General]\nSourceDirectory=/srv/data\n' | as_root tee "$settings" >/dev/null
as_root env DEBIAN_FRONTEND=noninteractive apt-get remove -y orvalen
[ -f "$settings" ] || { echo "ci-package: removing took $settings" >&2; exit 1; }
cleanup
installed=false
scratch=
[ ! -e /usr/bin/orvalen-cli ] || { echo "ci-package: removing left /usr/bin/orvalen-cli" >&2; exit 1; }
[ ! -e "$settings" ] || { echo "ci-package: purging left $settings" >&2; exit 1; }
echo "ci-package: $deb built, checked, installed and removed"
