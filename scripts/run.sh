#!/usr/bin/env bash
# Runs the server: installs what is missing, builds, starts a private MariaDB
# whose data lives in .run/ (kept between runs), writes working settings when
# there are none, and starts the control panel from the staged application
# directory. Stop it with Ctrl+C or by closing the panel; MariaDB stops with it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/build.sh
build=${OMBRIX_BUILD_DIR:-build}
app="$root/$build/app"

# Values chosen on the first run and kept in .run/run.env for the next ones.
mkdir -p .run
# The files written below hold passwords: readable by their owner only.
umask 077
chmod 600 .run/run.env "$app/OmbrixServer.cfg" 2>/dev/null || true
if [ ! -f .run/run.env ]; then
    secret() { head -c 12 /dev/urandom | base64 | tr -dc 'A-Za-z0-9' | head -c 16; }
    port=34306
    while (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null; do port=$((port + 1)); done
    cat > .run/run.env <<ENV
DB_PORT=$port
DB_PASSWORD=$(secret)
SERVER_PORT=${OMBRIX_SERVER_PORT:-6660}
ADMIN_PASSWORD=$(secret)
COMPANY_PASSWORD=$(secret)
ENV
    # A new database and new passwords: settings written for an earlier one no longer fit.
    rm -f "$app/OmbrixServer.cfg"
fi
# Values that later versions of this script added.
grep -q '^UPGRADE_PASSWORD=' .run/run.env || echo "UPGRADE_PASSWORD=$(head -c 12 /dev/urandom | base64 | tr -dc 'A-Za-z0-9' | head -c 16)" >> .run/run.env
# shellcheck source=/dev/null
. .run/run.env

umask 022
# The server's account reaches its own database only; the demonstration
# upgrade service below has an account of its own.
scripts/mariadb.sh start "$root/.run/mariadb" "$DB_PORT" "$DB_PASSWORD" OmbrixServer
trap 'scripts/mariadb.sh stop "$root/.run/mariadb"' EXIT
scripts/mariadb.sh account "$root/.run/mariadb" OmbrixUpgrade "$UPGRADE_PASSWORD" OmbrixLicenseDB

if [ ! -f "$app/OmbrixServer.cfg" ]; then
    (umask 077; cat > "$app/OmbrixServer.cfg") <<CFG
[ServerSettings]
ServerPort=$SERVER_PORT
InitServerSearchingUpdates=true

[LicenseInfo]
Company=Empresa Demo
ID=1000000001
Password=$DB_PASSWORD

[Database]
Type=QMYSQL
Host=127.0.0.1
DbPort=$DB_PORT
DbName=OmbrixServer

[AdminUser]
Login=admin
Password=$ADMIN_PASSWORD
ConnectivityPassword=$COMPANY_PASSWORD
CFG
fi
server_objects="OmbrixServerDefinitions OmbrixServerBaseObjects OmbrixServerDatabase OmbrixServerConnector
                OmbrixServerAuthorization OmbrixServerScheduler OmbrixServerUpdater MySqlDialectMap PasswordAuthcom
                DbInsertSercom DbUpdateSercom DbDeleteSercom DbModifiersSercom DbSelectSercom
                DbBrowseSercom DbSearchSercom DbMetadataSercom
                LogPanet DatabasePanet ConnectorPanet AuthorizationPanet SchedulerPanet UpdatePanet"
if [ ! -f "$app/OmbrixSystemObjects.cfg" ]; then
    {
        echo "[ServerFiles]"
        for object in $server_objects; do
            echo "$object=1"
        done
        echo "[ClientFiles]"
        sed -n "s/^[0-9]*|'\(Component[A-Za-z]*\)'.*/\1=1/p" "$app/OmbrixDbData/Data/srvComponent.odd"
    } > "$app/OmbrixSystemObjects.cfg"
fi
# Objects that a newer build brings join a list written by an earlier run.
for object in $server_objects; do
    grep -q "^$object=" "$app/OmbrixSystemObjects.cfg" \
        || sed -i "/^\[ServerFiles\]/a $object=1" "$app/OmbrixSystemObjects.cfg"
done
if [ ! -f "$app/OmbrixServerUI.cfg" ]; then
    cat > "$app/OmbrixServerUI.cfg" <<CFG
[PanelSettings]
PanelColumns=2
PanelRows=2
Tabs=1
ActivatedPanets=LogPanet--0,0,0|DatabasePanet--0,0,1|ConnectorPanet--0,1,0|AuthorizationPanet--0,1,1
CFG
fi

# A demonstration upgrade service in the same MariaDB: the demo account holds
# no newer release, so a check on the update page finds nothing to download.
export OMBRIX_UPGRADE_HOST=127.0.0.1 OMBRIX_UPGRADE_PORT=$DB_PORT OMBRIX_UPGRADE_USER=OmbrixUpgrade \
       OMBRIX_UPGRADE_PASSWORD=$UPGRADE_PASSWORD
"$app/OmbrixUpgradeAdmin" create
"$app/OmbrixUpgradeAdmin" account --company "Empresa Demo" --account-password "$DB_PASSWORD" \
    --server-upgrade 01.30.00 --client-upgrade 02.08.01 --client-platforms 2

[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] || export QT_QPA_PLATFORM=offscreen
echo "Ombrix Server: port $SERVER_PORT on every IPv4 address (company 'Empresa Demo')."
echo "  company password: $COMPANY_PASSWORD   administrator: admin / $ADMIN_PASSWORD"
echo "  settings: $app/OmbrixServer.cfg   database: 127.0.0.1:$DB_PORT (data in .run/mariadb)"
echo "Stop it with Ctrl+C${QT_QPA_PLATFORM:+ (no display: the panel runs offscreen)} or by closing the panel."
cd "$app"
./OmbrixServerPanel &
panel=$!
stop() {
    kill "$panel" 2>/dev/null || true
    wait "$panel" 2>/dev/null || true
    "$root/scripts/mariadb.sh" stop "$root/.run/mariadb"
}
trap stop EXIT
trap 'exit 130' INT TERM HUP
wait "$panel" || true
