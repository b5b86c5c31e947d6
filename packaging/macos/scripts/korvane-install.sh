#!/bin/sh
# Shared by the package's preinstall/postinstall and by the uninstaller: where Korvane's files live and how
# its launchd job is stopped and started. Sourced, never run.
#
# Every path is prefixed with $korvane_root: the target volume the installer passes (empty for "/"), and
# before it DESTDIR, empty on a real machine, set to stage or test the scripts without touching this one.
# launchd is only asked about the job when the files go to the running system (target volume "/").

korvane_label="com.korvane.client"
# The package's own directory (program, man page, uninstaller). /usr/local/bin and /usr/local/share/man may
# belong to someone else (Homebrew's user on an Intel Mac): they get only links to it, made by postinstall.
korvane_prefix="/usr/local/korvane"
korvane_links="bin/korvane-client share/man/man1/korvane-client.1"

# korvane_set_root TARGET_VOLUME
# The paths are read by the scripts that source this file.
# shellcheck disable=SC2034
korvane_set_root() {
    korvane_volume=${1:-/}
    korvane_root="${DESTDIR:-}${korvane_volume%/}"
    korvane_plist="$korvane_root/Library/LaunchDaemons/$korvane_label.plist"
    korvane_home="$korvane_root$korvane_prefix"
    korvane_app="$korvane_root/Applications/Korvane.app"
    korvane_newsyslog_conf="$korvane_root/private/etc/newsyslog.d/$korvane_label.conf"
    korvane_log_dir="$korvane_root/Library/Logs/RuzEdaRoredo"
    korvane_config_dir="$korvane_root/Library/Application Support/RuzEdaRoredo"
}

korvane_say() {
    printf 'korvane: %s\n' "$*"
}

korvane_on_running_system() {
    [ "$korvane_volume" = "/" ]
}

korvane_job_loaded() {
    launchctl print "system/$korvane_label" >/dev/null 2>&1
}

# The pid launchd reports for the running job; fails when the job is not loaded or not running.
korvane_job_pid() {
    launchctl print "system/$korvane_label" 2>/dev/null |
        awk '$1 == "pid" && $2 == "=" && $3 ~ /^[0-9]+$/ { print $3; found = 1; exit } END { exit !found }'
}

# True when this installation was started by the daemon itself. The daemon sets KORVANE_SELF_UPDATE=1 for
# the installer; should that variable not reach the scripts, an installer process whose parent is the
# job's own process gives the same answer. Stopping the job then would kill the installer's parent.
# Asked only for installs onto the running system.
korvane_is_self_update() {
    if [ "${KORVANE_SELF_UPDATE:-}" = "1" ]; then
        return 0
    fi
    job_pid=$(korvane_job_pid) || return 1
    ps -A -o ppid= -o comm= 2>/dev/null |
        awk -v parent="$job_pid" '$1 == parent && $2 ~ /(^|\/)installer$/ { found = 1 } END { exit !found }'
}

korvane_stop_job() {
    if ! korvane_job_loaded; then
        return 0
    fi
    korvane_say "Beende den laufenden Job system/$korvane_label."
    if ! launchctl bootout "system/$korvane_label"; then
        korvane_say "launchctl bootout system/$korvane_label ist fehlgeschlagen."
        return 1
    fi
}

# launchd also refuses the job when the user has switched Korvane off under "Im Hintergrund erlauben" (System
# Settings, Login Items). The files are installed all the same: one warning line, with launchctl's reason.
korvane_start_job() {
    korvane_say "Starte den Job system/$korvane_label."
    if ! reason=$(launchctl bootstrap system "$korvane_plist" 2>&1); then
        reason=$(printf '%s' "$reason" | tr '\n\t' '  ' | tr -d '[:cntrl:]')
        korvane_say "Warnung: launchctl bootstrap ist fehlgeschlagen ($reason). Ist Korvane unter Systemeinstellungen > Allgemein > Anmeldeobjekte im Hintergrund erlaubt? Von Hand starten mit: sudo launchctl bootstrap system $korvane_plist"
    fi
}

# True when $1 is a symbolic link to $2.
korvane_links_to() {
    [ -L "$1" ] && [ "$(readlink "$1")" = "$2" ]
}

# Links each command below /usr/local to the package's file. A directory that is missing is made (root's, 0755);
# one that exists keeps its owner and mode, and anything already at a link's place that is not our link stays.
# A link that cannot be made is a warning: the daemon does not need it.
korvane_link_commands() {
    for relative in $korvane_links; do
        link="$korvane_root/usr/local/$relative"
        target="$korvane_prefix/$relative"
        if korvane_links_to "$link" "$target"; then
            continue
        fi
        if [ -e "$link" ] || [ -L "$link" ]; then
            korvane_say "Warnung: $link gehört nicht zu Korvane und bleibt, wie es ist; Korvane liegt in $target."
        # -n: should a link to a directory appear at the name after the test above (the directory's owner can
        # put one there), it is replaced rather than followed, and the link is not made inside its target.
        elif ! (umask 022 && mkdir -p "$(dirname "$link")" && ln -sfn "$target" "$link"); then
            korvane_say "Warnung: $link konnte nicht angelegt werden; Korvane liegt in $target."
        fi
    done
}

# Removes the links that are ours; whatever else is at their place stays.
korvane_unlink_commands() {
    for relative in $korvane_links; do
        if korvane_links_to "$korvane_root/usr/local/$relative" "$korvane_prefix/$relative"; then
            rm -f "$korvane_root/usr/local/$relative" || return 1
        fi
    done
}

# Both directories belong to root (config.json holds the API key) and stay readable for the logged-in
# user: the menu-bar app reads status.json and opens the daemon log. Their files are left as they are.
# A symbolic link at either path (planted by whoever can write the parent) is left alone with a warning:
# root would otherwise re-own whatever it points to.
korvane_make_directories() {
    for dir in "$korvane_log_dir" "$korvane_config_dir"; do
        if [ ! -L "$dir" ]; then
            mkdir -p "$dir" || return 1
        fi
        korvane_own_directory "$dir"
        case $? in
            0) ;;
            2) korvane_say "Warnung: $dir ist ein symbolischer Link und bleibt, wie er ist (sein Ziel auch)." ;;
            *) return 1 ;;
        esac
    done
}

# Gives the directory $1 to root, mode 0755, through the directory itself: it is entered and changed as ".",
# so a link swapped in after the test is not followed either. Returns 2 when $1 is (or became) a link.
korvane_own_directory() {
    parent=$(cd -P -- "$(dirname -- "$1")" && pwd -P) || return 1
    if [ -L "$1" ]; then
        return 2
    fi
    (
        cd -P -- "$1" || exit 1
        [ "$(pwd -P)" = "${parent%/}/$(basename -- "$1")" ] || exit 2
        chown 0:0 . && chmod 0755 .
    )
}

# Ends the menu-bar app of the user logged in at the console, whose bundle is about to be removed. The
# console belongs to root while nobody is logged in.
korvane_quit_app() {
    console_user=$(stat -f %Su /dev/console 2>/dev/null) || return 0
    if [ -z "$console_user" ] || [ "$console_user" = root ]; then
        return 0
    fi
    ps -A -o pid= -o user= -o comm= 2>/dev/null |
        awk -v user="$console_user" -v app="/Applications/Korvane.app/Contents/MacOS/Korvane" \
            '$2 == user && $3 == app { print $1 }' |
        while read -r pid; do
            kill -TERM "$pid" 2>/dev/null && korvane_say "Menüleisten-App von $console_user beendet."
        done
}
