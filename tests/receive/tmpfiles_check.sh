#!/bin/sh
# The spool's tmpfiles.d entry as systemd-tmpfiles applies it, moved to a
# spool in a temporary directory owned by whoever runs this: the spool is
# made 0775 with the writers' lock in it, the owner's and 0660 (put right if
# it was anyone else's), and the cleanup ages records by when they were
# written only, so one written 40 days ago goes although it was read a
# moment ago, and one written 10 days ago stays, as does the lock.
#   tmpfiles_check.sh <the configured vindrel.conf>
set -eu
command -v systemd-tmpfiles >/dev/null || { echo "no systemd-tmpfiles: skipped"; exit 77; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
conf=$dir/vindrel.conf
spool=$dir/spool
sed -e "s|^d [^ ]* |d $spool |" -e "s|^\([fx]\) [^ ]*/\.lock|\1 $spool/.lock|" \
    -e "s| vindrel vindrel | $(id -un) $(id -gn) |" "$1" >"$conf"
grep -q "^d $spool 0775 $(id -un) $(id -gn) " "$conf" || { echo "unexpected entry: $(cat "$1")"; exit 1; }

systemd-tmpfiles --create "$conf"
[ "$(stat -c %a "$spool")" = 775 ] || { echo "spool mode $(stat -c %a "$spool")"; exit 1; }
lock() { stat -c '%a %U' "$spool/.lock"; }
[ "$(lock)" = "660 $(id -un)" ] || { echo "lock: $(lock)"; exit 1; }
if [ "$(id -u)" = 0 ]; then
    chown 65534 "$spool/.lock" && chmod 0666 "$spool/.lock"
    systemd-tmpfiles --create "$conf"
    [ "$(lock)" = "660 root" ] || { echo "a stranger's lock left as: $(lock)"; exit 1; }
fi
echo old >"$spool/1-1-00000001.msg"
echo new >"$spool/1-1-00000002.msg"
touch -m -d '40 days ago' "$spool/1-1-00000001.msg"
touch -a "$spool/1-1-00000001.msg"
touch -d '10 days ago' "$spool/1-1-00000002.msg"
touch -d '40 days ago' "$spool/.lock"
systemd-tmpfiles --clean "$conf"
left=$(ls -A "$spool" | tr '\n' ' ')
[ "$left" = ".lock 1-1-00000002.msg " ] || { echo "after the cleanup the spool holds: $left"; exit 1; }
