#!/bin/sh
# Shared by the package's preinstall/postinstall and by the uninstaller: where Korvane's files live and how
# its launchd job is stopped and started. Sourced, never run.
#
# Every path is prefixed with $korvane_root: the target volume the installer passes (empty for "/"), and
# before it DESTDIR, empty on a real machine, set to stage or test the scripts without touching this one.
# launchd is only asked about the job when the files go to the running system (target volume "/").

korvane_label="com.korvane.client"

# korvane_set_root TARGET_VOLUME
# The paths are read by the scripts that source this file.
# shellcheck disable=SC2034
korvane_set_root() {
    korvane_volume=${1:-/}
    korvane_root="${DESTDIR:-}${korvane_volume%/}"
    korvane_plist="$korvane_root/Library/LaunchDaemons/$korvane_label.plist"
    korvane_program="$korvane_root/usr/local/bin/korvane-client"
    korvane_man_page="$korvane_root/usr/local/share/man/man1/korvane-client.1"
    korvane_share_dir="$korvane_root/usr/local/share/korvane"
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

korvane_start_job() {
    korvane_say "Starte den Job system/$korvane_label."
    if ! launchctl bootstrap system "$korvane_plist"; then
        korvane_say "launchctl bootstrap ist fehlgeschlagen; von Hand starten mit: sudo launchctl bootstrap system $korvane_plist"
        return 1
    fi
}

# Both directories belong to root (config.json holds the API key) and stay readable for the logged-in
# user: the menu-bar app reads status.json and opens the daemon log. Their files are left as they are.
korvane_make_directories() {
    for dir in "$korvane_log_dir" "$korvane_config_dir"; do
        mkdir -p "$dir" || return 1
        chown 0:0 "$dir" || return 1
        chmod 0755 "$dir" || return 1
    done
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
