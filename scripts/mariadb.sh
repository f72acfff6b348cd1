#!/usr/bin/env bash
# A throwaway MariaDB for tests and local runs: private data directory, its own
# socket and pid file, listening on 127.0.0.1 only.
#
#   mariadb.sh start DIR PORT PASSWORD   creates DIR on first use, starts, waits, creates OmbrixAdm
#   mariadb.sh stop DIR                  stops the server started in DIR, by its pid
set -euo pipefail

cmd=${1:?usage: mariadb.sh start DIR PORT PASSWORD | stop DIR}
dir=$(mkdir -p "${2:?data directory}" && cd "$2" && pwd)
sock="$dir/mysqld.sock"
pidfile="$dir/mysqld.pid"

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
    setsid mariadbd --no-defaults --user="$(id -un)" --datadir="$dir/data" \
        --socket="$sock" --pid-file="$pidfile" --port="$port" --bind-address=127.0.0.1 \
        --character-set-server=utf8mb4 --collation-server=utf8mb4_bin \
        --skip-name-resolve --innodb-buffer-pool-size=64M --innodb-flush-log-at-trx-commit=2 \
        --log-error="$dir/mariadbd.log" </dev/null >/dev/null 2>&1 &
    for _ in $(seq 1 300); do
        mariadb-admin --no-defaults --socket="$sock" ping >/dev/null 2>&1 && break
        sleep 0.1
    done
    if ! mariadb-admin --no-defaults --socket="$sock" ping >/dev/null 2>&1; then
        echo "MariaDB did not start; see $dir/mariadbd.log:" >&2
        tail -n 20 "$dir/mariadbd.log" >&2 || true
        exit 1
    fi
    local user=OmbrixAdm
    mariadb --no-defaults --socket="$sock" -u root <<SQL
DELETE FROM mysql.global_priv WHERE User='';
CREATE USER IF NOT EXISTS '$user'@'127.0.0.1' IDENTIFIED BY '$password';
CREATE USER IF NOT EXISTS '$user'@'localhost' IDENTIFIED BY '$password';
ALTER USER '$user'@'127.0.0.1' IDENTIFIED BY '$password';
ALTER USER '$user'@'localhost' IDENTIFIED BY '$password';
GRANT ALL ON *.* TO '$user'@'127.0.0.1';
GRANT ALL ON *.* TO '$user'@'localhost';
FLUSH PRIVILEGES;
SQL
    echo "MariaDB on 127.0.0.1:$port (pid $(cat "$pidfile"), socket $sock)"
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
    start) start "${3:-}" "${4:-}" ;;
    stop) stop ;;
    *) echo "usage: mariadb.sh start DIR PORT PASSWORD | stop DIR" >&2; exit 2 ;;
esac
