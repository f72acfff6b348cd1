#include "KTStatusEndpoint.h"

#include "KTPrometheusText.h"

#include <KTCluster.h>
#include <KTDatabaseController.h>
#include <KTServerConnector.h>
#include <KTServerMetrics.h>

#include <QDateTime>
#include <QHttpServer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QStandardItemModel>
#include <QTcpServer>

namespace {

const QByteArray plainText = QByteArrayLiteral("text/plain; charset=utf-8");
using Status = QHttpServerResponse::StatusCode;

void writeComponents(KTPrometheusText& out, const KTServerMetrics::Snapshot& counts)
{
    out.family(QStringLiteral("ombrix_requests_total"), "counter", QStringLiteral("Requests answered, by component."));
    for (auto it = counts.components.cbegin(); it != counts.components.cend(); ++it)
        out.sample(QStringLiteral("ombrix_requests_total"), double(it->requests), {{QStringLiteral("component"), it.key()}});
    out.family(QStringLiteral("ombrix_request_failures_total"), "counter",
               QStringLiteral("Requests answered with a failure, by component."));
    for (auto it = counts.components.cbegin(); it != counts.components.cend(); ++it)
        out.sample(QStringLiteral("ombrix_request_failures_total"), double(it->failures),
                   {{QStringLiteral("component"), it.key()}});
}

void writeTotals(KTPrometheusText& out, const KTServerMetrics::Snapshot& counts)
{
    out.family(QStringLiteral("ombrix_reply_bytes_total"), "counter", QStringLiteral("Bytes of the replies sent."));
    out.sample(QStringLiteral("ombrix_reply_bytes_total"), double(counts.replyBytes));
    QList<double> bounds;
    for (qint64 micros : KTServerMetrics::latencyBounds())
        bounds << double(micros) / 1e6;
    out.family(QStringLiteral("ombrix_request_duration_seconds"), "histogram",
               QStringLiteral("Time from a request's arrival to its reply."));
    out.histogram(QStringLiteral("ombrix_request_duration_seconds"), bounds, counts.latencyBuckets,
                  double(counts.latencySumMicros) / 1e6, counts.requests);
    out.family(QStringLiteral("ombrix_database_reconnects_total"), "counter",
               QStringLiteral("Times the server's database came back after it was lost."));
    out.sample(QStringLiteral("ombrix_database_reconnects_total"), double(counts.reconnects));
    out.family(QStringLiteral("ombrix_scheduled_deliveries_total"), "counter",
               QStringLiteral("Scheduled messages handed to their recipients."));
    out.sample(QStringLiteral("ombrix_scheduled_deliveries_total"), double(counts.scheduledDeliveries));
    out.family(QStringLiteral("ombrix_update_state"), "gauge",
               QStringLiteral("Updater: 0 idle, 1 checking, 2 nothing newer, 3 downloading, 4 installing."));
    out.sample(QStringLiteral("ombrix_update_state"), counts.updateState);
}

void writeGauge(KTPrometheusText& out, const char* name, const char* help, double value)
{
    out.family(QLatin1String(name), "gauge", QLatin1String(help));
    out.sample(QLatin1String(name), value);
}

QJsonObject connectionEntry(const QStandardItemModel* model, int row, const KTServerConnector* connector)
{
    const int connectionID = model->item(row, KTServerConnector::IdColumn)->text().toInt();
    const QString user = model->item(row, KTServerConnector::UserColumn)->text();
    const QDateTime since = model->item(row, KTServerConnector::DateColumn)->data(KTServerConnector::ArrivalRole)
                                .toDateTime();
    return {{QStringLiteral("id"), connectionID},
            // "?" until a login names the user.
            {QStringLiteral("user"), user == QLatin1String("?") ? QString() : user},
            {QStringLiteral("address"), connector->peerAddress(connectionID)},
            {QStringLiteral("encrypted"), connector->isEncrypted(connectionID)},
            {QStringLiteral("since"), since.toOffsetFromUtc(since.offsetFromUtc()).toString(Qt::ISODate)},
            {QStringLiteral("lastAction"), model->item(row, KTServerConnector::LastActionColumn)->text().simplified()}};
}

} // namespace

KTStatusEndpoint::KTStatusEndpoint(KTServerConnector* connector, const KTDatabaseController* database, QObject* parent)
    : QObject(parent), _connector(connector), _database(database)
{
}

KTStatusEndpoint::~KTStatusEndpoint()
{
    stop();
}

bool KTStatusEndpoint::start(const QHostAddress& address, quint16 port)
{
    stop();
    auto* tcp = new QTcpServer(this);
    if (!tcp->listen(address, port)) {
        _error = tcp->errorString();
        delete tcp;
        return false;
    }
    _http = new QHttpServer(this);
    const auto route = [this](const char* path, QHttpServerResponse (KTStatusEndpoint::*page)() const) {
        _http->route(QLatin1String(path),
                     [this, page](const QHttpServerRequest& request) { return answer(request, page); });
    };
    route("/health", &KTStatusEndpoint::health);
    route("/metrics", &KTStatusEndpoint::metrics);
    route("/connections", &KTStatusEndpoint::connections);
    _http->setMissingHandler([](const QHttpServerRequest&, QHttpServerResponder&& responder) {
        responder.write(QByteArrayLiteral("no existe\n"), plainText, Status::NotFound);
    });
    _http->bind(tcp);
    _tcp = tcp;
    return true;
}

void KTStatusEndpoint::stop()
{
    // The HTTP server may have taken the listening socket as its child:
    // whichever goes first, the other is not deleted twice.
    delete _http;
    _http = nullptr;
    delete _tcp.data();
}

bool KTStatusEndpoint::isListening() const
{
    return _tcp && _tcp->isListening();
}

QHttpServerResponse KTStatusEndpoint::answer(const QHttpServerRequest& request,
                                             QHttpServerResponse (KTStatusEndpoint::*page)() const) const
{
    if (request.method() != QHttpServerRequest::Method::Get) {
        QHttpServerResponse refused(plainText, QByteArrayLiteral("solo GET\n"), Status::MethodNotAllowed);
        refused.setHeader(QByteArrayLiteral("Allow"), QByteArrayLiteral("GET"));
        return refused;
    }
    return (this->*page)();
}

bool KTStatusEndpoint::databaseAnswers() const
{
    return _database->connectionStatus() && !_database->connectionLost();
}

QString KTStatusEndpoint::portsText() const
{
    QStringList open;
    if (_connector->isListening())
        open << tr("Puerto %1 abierto").arg(_connector->serverPort());
    if (_connector->isListeningEncrypted())
        open << tr("Puerto %1 (TLS) abierto").arg(_connector->encryptedPort());
    return open.join(QStringLiteral(", "));
}

QHttpServerResponse KTStatusEndpoint::health() const
{
    const bool serving = _connector->isServing();
    const bool database = databaseAnswers();
    const QString text = (serving ? portsText() : tr("Puerto cerrado"))
        + QStringLiteral(", ") + (database ? tr("BD conectada") : tr("BD sin respuesta")) + brokerText() + QLatin1Char('\n');
    return QHttpServerResponse(plainText, text.toUtf8(), serving && database ? Status::Ok : Status::ServiceUnavailable);
}

// The instance still serves its own users without the broker: said, not failed.
QString KTStatusEndpoint::brokerText() const
{
    if (!_cluster)
        return QString();
    return QStringLiteral(", ") + (_cluster->brokerUp() ? tr("intermediario conectado")
                                                        : tr("intermediario sin conexión (solo usuarios propios)"));
}

QHttpServerResponse KTStatusEndpoint::metrics() const
{
    KTPrometheusText out;
    writeGauge(out, "ombrix_up", "1 while the port is open and the database answers.",
               _connector->isServing() && databaseAnswers() ? 1 : 0);
    writeGauge(out, "ombrix_database_up", "1 while the server's database answers.", databaseAnswers() ? 1 : 0);
    if (_cluster)
        writeGauge(out, "ombrix_broker_up", "1 while the broker that links this instance to the others answers.",
                   _cluster->brokerUp() ? 1 : 0);
    writeGauge(out, "ombrix_connections", "Client connections open.", _connector->connectionIDs().size());
    writeGauge(out, "ombrix_logged_in_users", "Users logged in.",
               QSet<QString>(_connector->loggedUsers().cbegin(), _connector->loggedUsers().cend()).size());
    const KTServerMetrics::Snapshot counts = _connector->metrics()->snapshot();
    writeComponents(out, counts);
    writeTotals(out, counts);
    return QHttpServerResponse(QByteArray(KTPrometheusText::contentType), out.text());
}

QHttpServerResponse KTStatusEndpoint::connections() const
{
    const QStandardItemModel* model = _connector->model();
    QJsonArray entries;
    for (int row = 0; row < model->rowCount(); ++row)
        entries.append(connectionEntry(model, row, _connector));
    return QHttpServerResponse(QByteArrayLiteral("application/json"), QJsonDocument(entries).toJson(QJsonDocument::Compact));
}
