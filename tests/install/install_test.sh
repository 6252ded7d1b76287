#!/usr/bin/env bash
# Installed like a desktop application: the build installed into a prefix that
# is then moved, each program run from there (nothing found by a build path),
# the desktop entry, metainfo and man pages checked by their validators, and
# the Debian package installed into and removed from a throw-away root.
#   install_test.sh BUILD-DIR VERSION
set -euo pipefail
build=$1
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }
# (grep reads to the end, not -q: with pipefail a writer cut off early by -q
# would fail the check.)

cmake --install "$build" --prefix "$work/prefix" >/dev/null
mv "$work/prefix" "$work/moved"
bin=$work/moved/bin
share=$work/moved/share

for program in velmar-recorder velmar-mp3; do
  [ "$("$bin/$program" --version)" = "$program $version" ] || fail "$program --version"
  "$bin/$program" --help | grep "usage: $program" >/dev/null || fail "$program --help"
done
[ "$("$bin/velmar-rec" version)" = "velmar-rec $version" ] || fail "velmar-rec version"
"$bin/velmar-rec" help | grep "velmar-rec record" >/dev/null || fail "velmar-rec help"

# A short recording (the demo signal where no input opens), then its FLAC.
(cd "$work" && env -u DISPLAY -u WAYLAND_DISPLAY "$bin/velmar-rec" record --duration 1 -o rec 2>/dev/null)
"$bin/velmar-rec" info "$work/rec/Track01.wav" | grep "^frames: 44100$" >/dev/null || fail "record --duration 1"
"$bin/velmar-mp3" --no-window --flac "$work/rec/Track01.wav" >/dev/null || fail "velmar-mp3 --flac"
flac -t -s "$work/rec/Track01.flac" || fail "flac -t"

# At its first start the recorder stores the encoder that lies beside it; its
# access log goes to the user's state folder, not the folder it started in.
mkdir -p "$work/started-in"
(cd "$work/started-in" && XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state \
  QT_QPA_PLATFORM=offscreen exec "$bin/velmar-recorder" >/dev/null 2>&1) &
recorder=$!
for _ in $(seq 100); do
  grep -qF "\"Path\"=\"$bin\"" "$work/config/velmar/registry.reg" 2>/dev/null && break
  sleep 0.2
done
kill -TERM "$recorder"; wait "$recorder" || true
grep -qF "\"Path\"=\"$bin\"" "$work/config/velmar/registry.reg" || fail "the encoder's path was not stored"
[ -s "$work/state/velmar/velmar_audio_recorer.log" ] || fail "no access log in the state folder"
[ ! -e "$work/started-in/velmar_audio_recorer.log" ] || fail "an access log in the folder it started in"
# Without a display: one line, status 2.
said=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$bin/velmar-recorder" 2>&1) && status=0 || status=$?
[ "$status" = 2 ] || fail "no display: status $status"
[ "$said" = "velmar-recorder: no display to open its window on (is DISPLAY set?); velmar-rec records without one" ] ||
  fail "no display: $said"

desktop-file-validate "$share/applications/velmar-recorder.desktop" || fail "desktop-file-validate"
grep -q "^Categories=.*Audio;.*Recorder;" "$share/applications/velmar-recorder.desktop" || fail "categories"
appstreamcli validate --no-net "$share/metainfo/io.velmar.recorder.metainfo.xml" >/dev/null ||
  fail "appstreamcli validate"
[ -s "$share/icons/hicolor/scalable/apps/velmar-recorder.svg" ] || fail "no scalable icon"
for size in 16 24 32 48 64 128 256; do
  file "$share/icons/hicolor/${size}x$size/apps/velmar-recorder.png" | grep "$size x $size" >/dev/null ||
    fail "icon $size"
done
for page in velmar-rec velmar-recorder velmar-mp3; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man $page: $warnings"
  LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$share/man/man1/$page.1.gz" 2>/dev/null | grep "^NAME" >/dev/null ||
    fail "man $page renders nothing"
done

# The package: its dependencies, lintian, and an install and removal in a
# root of its own.
(cd "$build" && cpack -G DEB -B "$work/package" >/dev/null)
deb=$(ls "$work"/package/*.deb)
dpkg-deb -f "$deb" Depends | grep "libflac" >/dev/null || fail "Depends: $(dpkg-deb -f "$deb" Depends)"
errors=$(lintian "$deb" 2>/dev/null | grep "^E:" || true)
[ -z "$errors" ] || fail "lintian: $errors"
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
dpkg --root="$root" --log="$work/dpkg.log" --force-depends --force-not-root --force-script-chrootless \
  -i "$deb" >/dev/null
[ "$("$root/usr/bin/velmar-rec" version)" = "velmar-rec $version" ] || fail "installed velmar-rec"
dpkg --root="$root" --log="$work/dpkg.log" --force-not-root --force-script-chrootless \
  -r velmar-recorder >/dev/null
[ ! -e "$root/usr/bin/velmar-rec" ] || fail "velmar-rec left after removal"
[ -z "$(find "$root/usr" -type f 2>/dev/null)" ] || fail "files left: $(find "$root/usr" -type f)"
echo "installed, moved, run, validated, packaged and removed"
