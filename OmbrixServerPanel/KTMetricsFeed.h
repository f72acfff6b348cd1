#ifndef KTMETRICSFEED_H
#define KTMETRICSFEED_H

#include <QObject>

class KTDatabaseController;
class KTServerMetrics;
class KTServerScheduler;
class KTServerUpdater;

// Counts what the main thread's objects report into the server metrics:
// the panel's database coming back, scheduled messages sent out, the
// updater's state. Connection threads count their own requests.
class KTMetricsFeed : public QObject
{
    Q_OBJECT
public:
    KTMetricsFeed(KTServerMetrics* metrics, QObject* parent = nullptr);

    void watch(KTDatabaseController* database);
    void watch(KTServerScheduler* scheduler);
    void watch(KTServerUpdater* updater);

private:
    KTServerMetrics* _metrics;
    // The database was lost (not merely never reached) since it last answered.
    bool _databaseLost = false;
};

#endif
