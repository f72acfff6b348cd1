#ifndef KTPROMETHEUSTEXT_H
#define KTPROMETHEUSTEXT_H

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// Writes metrics in Prometheus' text exposition format: each family once
// with its HELP and TYPE lines, then its samples.
class KTPrometheusText
{
public:
    using Label = QPair<QString, QString>;

    static constexpr const char* contentType = "text/plain; version=0.0.4; charset=utf-8";

    void family(const QString& name, const char* type, const QString& help);
    void sample(const QString& name, double value, const QList<Label>& labels = {});
    // A histogram's samples: cumulative counts under each upper bound, then
    // _sum and _count.
    void histogram(const QString& name, const QList<double>& bounds, const QList<quint64>& cumulative, double sum,
                   quint64 count);

    QByteArray text() const { return _text.toUtf8(); }

    static QString escapedLabel(const QString& value);

private:
    static QString number(double value);

    QString _text;
};

#endif
