#ifndef KTDIRECTBASELINE_H
#define KTDIRECTBASELINE_H

#include "KTLoadRunner.h"

#include <QStringList>

#include <functional>

class KTBenchmarkServer;

// What the same work costs without the server: the SQL statements the
// server sends MariaDB for one request, read from MariaDB's general log, and
// replayed directly through Qt SQL from as many threads as there were clients.
class KTDirectBaseline
{
public:
    // The statements every other connection ran while request() did one request.
    static QStringList capture(const KTBenchmarkServer& server, const std::function<bool()>& request);
    // Steps that run the statements on a connection of their own; with
    // reconnect, each step also opens and closes that connection, as the
    // server does for every client connection.
    static KTLoadRunner::StepFactory replay(const KTBenchmarkServer& server, const QStringList& statements,
                                            bool reconnect);
};

#endif
