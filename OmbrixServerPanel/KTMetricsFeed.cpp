#include "KTMetricsFeed.h"

#include <KTDatabaseController.h>
#include <KTServerMetrics.h>
#include <KTServerScheduler.h>
#include <KTServerUpdater.h>

KTMetricsFeed::KTMetricsFeed(KTServerMetrics* metrics, QObject* parent)
    : QObject(parent), _metrics(metrics)
{
}

// A first connection that fails and then succeeds is a late start, not a
// reconnection: only a loss while connected counts.
void KTMetricsFeed::watch(KTDatabaseController* database)
{
    connect(database, &KTDatabaseController::dbStatusChanged, this, [this, database](bool up) {
        if (!up) {
            _databaseLost = _databaseLost || database->connectionLost();
            return;
        }
        if (_databaseLost)
            _metrics->recordReconnect();
        _databaseLost = false;
    });
}

void KTMetricsFeed::watch(KTServerScheduler* scheduler)
{
    connect(scheduler, &KTServerScheduler::broadcastActionRequest, this,
            [this] { _metrics->recordScheduledDelivery(); });
}

void KTMetricsFeed::watch(KTServerUpdater* updater)
{
    connect(updater, &KTServerUpdater::upgradeStatusChanged, this, [this](int state) { _metrics->setUpdateState(state); });
}
