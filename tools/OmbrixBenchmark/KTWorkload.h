#ifndef KTWORKLOAD_H
#define KTWORKLOAD_H

#include "KTBenchmarkClient.h"
#include "KTLoadRunner.h"

#include <QString>

// One desktop client doing one kind of work, a measured step at a time: a
// request and its reply, or for Connect a whole connection (connect,
// negotiate, log in, disconnect).
class KTWorkload : public KTLoadRunner::Step
{
public:
    enum Kind { SelectByKey, Insert, BrowseUnchanged, BrowseFull, Connect };
    static constexpr Kind all[] = {SelectByKey, Insert, BrowseUnchanged, BrowseFull, Connect};

    KTWorkload(Kind kind, quint16 port, const QString& login, bool tls = false);

    static QString name(Kind kind);
    // The insert the workload times: one product category named after marker.
    static QString insertRequest(const QString& marker);
    // Logs in and brings the client to where the measured steps begin.
    bool prepare() override;
    // One measured step; false when the server did not answer as expected.
    bool step() override;

private:
    QString browseRequest(const QString& table, int limit, int resolveKeys, const QString& stats) const;

    Kind _kind;
    quint16 _port;
    QString _login;
    bool _tls;
    KTBenchmarkClient _client;
    int _sequence = 0;
    QString _stats;
};

#endif
