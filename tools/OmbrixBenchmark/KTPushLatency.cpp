#include "KTPushLatency.h"

#include "KTBenchmarkClient.h"
#include "KTWorkload.h"

#include <KTProtocolClient.h>

#include <QElapsedTimer>
#include <QUuid>

KTLatencyStats KTPushLatency::measure(quint16 writerPort, const QString& writer, quint16 listenerPort,
                                      const QString& listener, int samples, int* failures)
{
    KTLatencyStats stats;
    KTBenchmarkClient sender(writerPort, writer);
    KTBenchmarkClient receiver(listenerPort, listener);
    if (!sender.logIn() || !receiver.logIn() || !receiver.activate(QStringLiteral("ComponentProductCategory"))) {
        *failures += samples;
        return stats;
    }
    const QString run = QUuid::createUuid().toString(QUuid::Id128).left(8);
    for (int i = 0; i < samples; ++i) {
        const QString marker = QStringLiteral("%1-%2").arg(run).arg(i);
        QElapsedTimer clock;
        clock.start();
        if (!sender.send(KTWorkload::insertRequest(marker)) || !receiver.waitFor(marker)) {
            ++*failures;
            continue;
        }
        stats.add(clock.nsecsElapsed());
        // The writer's own reply, before the next insert.
        if (!sender.waitFor(marker))
            ++*failures;
    }
    return stats;
}
