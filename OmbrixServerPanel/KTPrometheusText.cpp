#include "KTPrometheusText.h"

#include <QStringList>

#include <cmath>

void KTPrometheusText::family(const QString& name, const char* type, const QString& help)
{
    QString escapedHelp = help;
    escapedHelp.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('\n'), QLatin1String("\\n"));
    _text += QStringLiteral("# HELP %1 %2\n# TYPE %1 %3\n").arg(name, escapedHelp, QLatin1String(type));
}

void KTPrometheusText::sample(const QString& name, double value, const QList<Label>& labels)
{
    QStringList pairs;
    for (const Label& label : labels)
        pairs << QStringLiteral("%1=\"%2\"").arg(label.first, escapedLabel(label.second));
    const QString labelText = pairs.isEmpty() ? QString() : QLatin1Char('{') + pairs.join(QLatin1Char(',')) + QLatin1Char('}');
    _text += name + labelText + QLatin1Char(' ') + number(value) + QLatin1Char('\n');
}

void KTPrometheusText::histogram(const QString& name, const QList<double>& bounds, const QList<quint64>& cumulative,
                                 double sum, quint64 count)
{
    const QString bucket = name + QStringLiteral("_bucket");
    for (int i = 0; i < bounds.size() && i < cumulative.size(); ++i)
        sample(bucket, double(cumulative.at(i)), {{QStringLiteral("le"), number(bounds.at(i))}});
    sample(bucket, double(count), {{QStringLiteral("le"), QStringLiteral("+Inf")}});
    sample(name + QStringLiteral("_sum"), sum);
    sample(name + QStringLiteral("_count"), double(count));
}

// A label value may hold anything a client sent: quotes, backslashes and
// line ends would end the sample early and forge others.
QString KTPrometheusText::escapedLabel(const QString& value)
{
    QString escaped = value;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('"'), QLatin1String("\\\""))
        .replace(QLatin1Char('\n'), QLatin1String("\\n"));
    return escaped;
}

QString KTPrometheusText::number(double value)
{
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("+Inf") : QStringLiteral("-Inf");
    // Counters are whole numbers up to 2^53: written without an exponent.
    if (value == std::floor(value) && std::fabs(value) < 9007199254740992.0)
        return QString::number(qint64(value));
    return QString::number(value, 'g', 15);
}
