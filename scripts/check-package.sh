#!/usr/bin/env bash
# Checks a built Morlen .deb: the files it installs, its computed dependencies, Debian's checker
# lintian, the menu entry and AppStream metadata against their validators, the manual pages, and
# that the installed programs run from a throwaway install root.
#   scripts/check-package.sh path/to/morlen_<version>_amd64.deb
set -euo pipefail
deb=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "package check: $*" >&2; exit 1; }

id=org.pelloran.Morlen
expected="./usr/bin/morlen
./usr/bin/morlen-upssim
./usr/share/applications/$id.desktop
./usr/share/doc/morlen/changelog.gz
./usr/share/doc/morlen/copyright
./usr/share/icons/hicolor/128x128/apps/$id.png
./usr/share/icons/hicolor/256x256/apps/$id.png
./usr/share/icons/hicolor/32x32/apps/$id.png
./usr/share/icons/hicolor/48x48/apps/$id.png
./usr/share/icons/hicolor/64x64/apps/$id.png
./usr/share/icons/hicolor/scalable/apps/$id.svg
./usr/share/man/man1/morlen-upssim.1.gz
./usr/share/man/man1/morlen.1.gz
./usr/share/metainfo/$id.metainfo.xml"
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
[ "$files" = "$expected" ] || fail "installed files differ:
$(diff <(echo "$expected") <(echo "$files") || true)"

depends=$(dpkg-deb -f "$deb" Depends)
case "$depends" in
    *libqt6widgets6*libc6* | *libc6*libqt6widgets6*) ;;
    *) fail "dependencies not computed from the libraries: '$depends'" ;;
esac
# The service journal's SQLite library, its server's client library, and Qt's painting, which
# writes the PDF reports.
for library in libsqlite3-0 libpq5 libqt6gui6; do
    case "$depends" in
        *"$library"*) ;;
        *) fail "no dependency on $library: '$depends'" ;;
    esac
done
[ "$(dpkg-deb -f "$deb" Package)" = morlen ] || fail "package name"

# Debian's own checker: any error fails the check, warnings are listed. No warning is left;
# the notes it still makes (hardening-no-bindnow, hardening-no-fortify-functions,
# binary-has-unneeded-section) come from CMake's own release flags instead of dpkg-buildflags,
# and are not shown.
status=0
report=$(lintian --fail-on error "$deb" 2>&1) || status=$?
report=$(grep -v 'running with root privileges' <<<"$report" || true)
[ -z "$report" ] || echo "$report" >&2
[ "$status" = 0 ] || fail "lintian found errors"

dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/$id.desktop"
appstreamcli validate --no-net --pedantic "$root/usr/share/metainfo/$id.metainfo.xml" >/dev/null ||
    appstreamcli validate --no-net "$root/usr/share/metainfo/$id.metainfo.xml"
for page in morlen morlen-upssim; do
    warnings=$(zcat "$root/usr/share/man/man1/$page.1.gz" | groff -man -ww -z 2>&1)
    [ -z "$warnings" ] || fail "$page(1): $warnings"
done
for program in morlen morlen-upssim; do
    file "$root/usr/bin/$program" | grep -q 'ELF 64-bit.*, stripped' || fail "$program is not a stripped program"
done

profiles=$("$root/usr/bin/morlen-upssim" --list-profiles)
grep -q '^su1000 ' <<<"$profiles" || fail "morlen-upssim --list-profiles: $profiles"

# Its one option, listed by --help.
QT_QPA_PLATFORM=offscreen "$root/usr/bin/morlen" --help | grep -q -- '--journal-server <connection string>' ||
    fail "morlen --help does not list --journal-server"

# The installed Morlen starts, and a SIGTERM closes it in order: it writes its settings.
config="$root/config"
mkdir -p "$config"
XDG_CONFIG_HOME="$config" XDG_DATA_HOME="$root/data" QT_QPA_PLATFORM=offscreen \
    "$root/usr/bin/morlen" &
pid=$!
for _ in $(seq 50); do
    [ -e "$config/Pelloran/Morlen.conf" ] && break
    sleep 0.1
done
# Written at start; taken away, so that only the close can have written it again.
sleep 0.5
rm -f "$config/Pelloran/Morlen.conf"
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
[ "$status" = 0 ] || fail "morlen ended with status $status on SIGTERM"
grep -q '^Left=' "$config/Pelloran/Morlen.conf" 2>/dev/null || fail "settings not written at close"

echo "Package $deb: files, dependencies, lintian, menu entry, metadata, manual pages and programs checked"
