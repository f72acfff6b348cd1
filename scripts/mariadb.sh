#!/usr/bin/env bash
# A throwaway MariaDB for tests and local runs: private data directory, its own
# socket and pid file, listening on 127.0.0.1 only.
#
#   mariadb.sh start DIR PORT PASSWORD [DATABASE...]
#       creates DIR on first use, starts, waits, and gives OmbrixAdm the password
#       and every right on the DATABASEs (default OmbrixServer) and on nothing
#       else: no global privilege, no FILE, no other database
#   mariadb.sh account DIR USER PASSWORD DATABASE...
#       the same for another account of the running server (an upgrade service's)
#   mariadb.sh stop DIR
#       stops the server started in DIR, by its pid
#
# A DATABASE may be a pattern of GRANT (ombrix\_test\_% for the tests'
# databases). OMBRIX_DB_MAX_CONNECTIONS raises the connection limit of a
# running server for a load that needs more.
set -euo pipefail

usage="usage: mariadb.sh start DIR PORT PASSWORD [DATABASE...] | account DIR USER PASSWORD DATABASE... | stop DIR"
cmd=${1:?$usage}
dir=$(mkdir -p "${2:?data directory}" && cd "$2" && pwd)
sock="$dir/mysqld.sock"
pidfile="$dir/mysqld.pid"

# Runs a daemon holding no descriptor but the standard three, on its own
# session: one it inherited (a lock its caller holds, say) would stay held
# for as long as the daemon runs, even after the caller is gone.
detached() {
    (
        for fd in /proc/$BASHPID/fd/*; do
            fd=${fd##*/}
            [ "$fd" -gt 2 ] 2>/dev/null && eval "exec $fd>&-"
        done
        exec setsid "$@" </dev/null >/dev/null 2>&1
    ) &
}

running() { [ -f "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null; }

start() {
    local port=${1:?port} password=${2:?password}
    if running; then
        echo "MariaDB already running in $dir (pid $(cat "$pidfile"))"
        return 0
    fi
    if [ ! -d "$dir/data/mysql" ]; then
        mariadb-install-db --no-defaults --user="$(id -un)" --datadir="$dir/data" \
            --auth-root-authentication-method=socket --skip-test-db >"$dir/install.log" 2>&1 \
            || { cat "$dir/install.log" >&2; exit 1; }
    fi
    # Detached completely, so that whoever started it (ctest, a shell) does not wait for it.
    detached mariadbd --no-defaults --user="$(id -un)" --datadir="$dir/data" \
        --socket="$sock" --pid-file="$pidfile" --port="$port" --bind-address=127.0.0.1 \
        --character-set-server=utf8mb4 --collation-server=utf8mb4_bin \
        --skip-name-resolve --max-connections=300 --innodb-buffer-pool-size=64M --innodb-flush-log-at-trx-commit=2 \
        --log-error="$dir/mariadbd.log"
    for _ in $(seq 1 300); do
        mariadb-admin --no-defaults --socket="$sock" ping >/dev/null 2>&1 && break
        sleep 0.1
    done
    if ! mariadb-admin --no-defaults --socket="$sock" ping >/dev/null 2>&1; then
        echo "MariaDB did not start; see $dir/mariadbd.log:" >&2
        tail -n 20 "$dir/mariadbd.log" >&2 || true
        exit 1
    fi
    shift 2
    mariadb --no-defaults --socket="$sock" -u root -e "DELETE FROM mysql.global_priv WHERE User=''; FLUSH PRIVILEGES;"
    if [ -n "${OMBRIX_DB_MAX_CONNECTIONS:-}" ]; then
        mariadb --no-defaults --socket="$sock" -u root -e "SET GLOBAL max_connections = ${OMBRIX_DB_MAX_CONNECTIONS//[^0-9]/}"
    fi
    account OmbrixAdm "$password" "${@:-OmbrixServer}"
    echo "MariaDB on 127.0.0.1:$port (pid $(cat "$pidfile"), socket $sock)"
}

# The account, reached from the loopback address or the socket, holds every
# right on its databases and nothing else; an account that an earlier run
# made wider loses the rest.
account() {
    local user=${1:?user} password=${2:?password}
    shift 2
    [ $# -gt 0 ] || { echo "$usage" >&2; exit 2; }
    local hosts="'$user'@'127.0.0.1', '$user'@'localhost'" grants="" database
    for database in "$@"; do
        grants+="GRANT ALL PRIVILEGES ON \`${database//\`/}\`.* TO $hosts;"$'\n'
    done
    mariadb --no-defaults --socket="$sock" -u root <<SQL
CREATE USER IF NOT EXISTS '$user'@'127.0.0.1' IDENTIFIED BY '$password';
CREATE USER IF NOT EXISTS '$user'@'localhost' IDENTIFIED BY '$password';
ALTER USER '$user'@'127.0.0.1' IDENTIFIED BY '$password';
ALTER USER '$user'@'localhost' IDENTIFIED BY '$password';
REVOKE ALL PRIVILEGES, GRANT OPTION FROM $hosts;
$grants
FLUSH PRIVILEGES;
SQL
}

stop() {
    if ! running; then
        echo "No MariaDB running in $dir"
        return 0
    fi
    local pid
    pid=$(cat "$pidfile")
    kill "$pid"
    for _ in $(seq 1 300); do
        kill -0 "$pid" 2>/dev/null || { echo "MariaDB stopped (pid $pid)"; return 0; }
        sleep 0.1
    done
    echo "MariaDB (pid $pid) did not stop in 30 s" >&2
    exit 1
}

case "$cmd" in
    start) start "${@:3}" ;;
    account)
        running || { echo "No MariaDB running in $dir" >&2; exit 1; }
        account "${@:3}" ;;
    stop) stop ;;
    *) echo "$usage" >&2; exit 2 ;;
esac
