#!/usr/bin/env bash
# Tests a Kuvona .deb as a user gets it: installs it with apt-get, starts the installed program
# with a fresh home folder and no display, then purges the package and checks that none of its
# files are left. Needs root or sudo; the package must not be installed already.
# Usage: scripts/package_test.sh kuvona_VERSION_ARCH.deb
set -euo pipefail
deb=$(realpath "$1")
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive

fail() {
    echo "package test: $*" >&2
    exit 1
}

if dpkg-query -W -f='${Status}' kuvona 2>/dev/null | grep -q 'install ok installed'; then
    fail "kuvona is installed already; purge it first (apt-get purge kuvona)"
fi
work=$(mktemp -d)
installed=
cleanup() {
    [ -n "$installed" ] && "${as_root[@]}" apt-get purge -y -qq kuvona >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT

"${as_root[@]}" apt-get install -y -qq "$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt-get install failed"; }
installed=yes
dpkg -L kuvona >"$work/files"
for f in /usr/bin/kuvona /usr/bin/kuvona-store /usr/share/applications/io.github.kuvona.Kuvona.desktop \
         /usr/share/metainfo/io.github.kuvona.Kuvona.metainfo.xml \
         /usr/share/icons/hicolor/scalable/apps/io.github.kuvona.Kuvona.svg \
         /usr/share/icons/hicolor/48x48/apps/io.github.kuvona.Kuvona.png \
         /usr/share/man/man1/kuvona-store.1.gz /usr/share/doc/kuvona/copyright; do
    grep -qx "$f" "$work/files" || fail "$f is not in the package"
done
grep -q kuvona-service "$work/files" && fail "the developer's kuvona-service is in the package"

# The installed program, as a user starts it: a fresh home, only the environment a desktop gives.
home=$work/home
mkdir "$home" "$work/runtime"
chmod 700 "$work/runtime"
kuvona() {
    env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$work/runtime" LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen \
        KUVONA_MSGBOX_LOG="$work/boxes.log" "$@"
}
data=$home/.local/share/kuvona

# Answered without a display, before the toolkit starts.
version=$(env -i PATH=/usr/bin:/bin HOME="$home" QT_QPA_PLATFORM=xcb /usr/bin/kuvona --version) ||
    fail "kuvona --version without a display: exit status $?"
[ "$version" = "Kuvona 2.1" ] || fail "kuvona --version printed '$version'"

# First start: the data folder is made and the empty store written from its template.
kuvona KUVONA_TEST_ACTIONS="wait:100;close" /usr/bin/kuvona || fail "first start: exit status $?"
[ -f "$data/Danhao.edb" ] || fail "no $data/Danhao.edb after the first start"
size=$(stat -c %s "$data/Danhao.edb")
[ "$size" -eq 332 ] || fail "Danhao.edb has $size bytes after the first start, not the template's 332"
[ ! -e /usr/bin/Danhao.edb ] || fail "the installed program wrote /usr/bin/Danhao.edb"

# A query saves its number (the service is unreachable; its error box is answered).
kuvona KUVONA_QUERY_HOST=127.0.0.1:9 KUVONA_TEST_ACTIONS="type:SF1234567890;tick:0;click:快递查询;wait:500;close" \
    /usr/bin/kuvona || fail "second start: exit status $?"
kuvona /usr/bin/kuvona-store dump --json >"$work/dump.json" || fail "kuvona-store found no file to dump"
grep -q "\"file\": \"$data/Danhao.edb\"" "$work/dump.json" || fail "kuvona-store did not use $data/Danhao.edb"
grep -q '"SF1234567890"' "$work/dump.json" || fail "the number was not saved: $(cat "$work/dump.json")"
size=$(stat -c %s "$data/Danhao.edb")
[ "$size" -gt 332 ] || fail "Danhao.edb did not grow with the saved number"

# A data folder that cannot be made: a message, no crash.
touch "$work/not-a-folder"
status=0
kuvona XDG_DATA_HOME="$work/not-a-folder" KUVONA_TEST_ACTIONS=close /usr/bin/kuvona 2>"$work/err" || status=$?
[ "$status" -eq 255 ] || fail "with an unmakeable data folder: exit status $status, not 255"
grep -q "cannot create the data folder $work/not-a-folder/kuvona: Not a directory" "$work/err" ||
    fail "with an unmakeable data folder: $(cat "$work/err")"

# Purged, the package leaves none of its files; folders stay only when another package owns them.
"${as_root[@]}" apt-get purge -y -qq kuvona >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt-get purge failed"; }
installed=
while read -r f; do
    [ -e "$f" ] || [ -L "$f" ] || continue
    if [ -d "$f" ] && [ ! -L "$f" ] && dpkg-query -S "$f" >/dev/null 2>&1; then
        continue
    fi
    fail "$f is left after the purge"
done <"$work/files"
echo "package test passed: installed, started from /usr/bin, files in ~/.local/share/kuvona, purged clean"
