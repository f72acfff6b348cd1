#include "KTRawFrames.h"

#include <KTFrame.h>

#include <QBuffer>
#include <QtTest>

namespace {

QString decodeWhole(const QByteArray& frame, bool* ok, qint64 maxSize = KTFrame::defaultMaxSize)
{
    return KTFrame::decode(frame.mid(8), maxSize, ok);
}

} // namespace

class tst_KTFrame : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void encodedFramesHaveTheWireLayout()
    {
        const QString text = QStringLiteral("<Saludo>Añoranza ✓</Saludo>");
        for (int level : {0, 1, 6, 9, -1}) {
            QByteArray frame = KTFrame::encode(text, level);
            const quint64 size = qFromBigEndian<quint64>(frame.constData());
            QCOMPARE(size, quint64(frame.size() - 8));
            QCOMPARE(qFromBigEndian<quint32>(frame.constData() + 8), quint32(size - 4));
            QCOMPARE(KTRawFrames::takeTexts(frame), QStringList{text});
        }
        QByteArray empty = KTFrame::encode(QString(), 6);
        QCOMPARE(qFromBigEndian<quint64>(empty.constData()), quint64(empty.size() - 8));
        QCOMPARE(KTRawFrames::takeTexts(empty), QStringList{QString()});
    }

    void rawFramesDecode()
    {
        bool ok = false;
        QCOMPARE(decodeWhole(KTRawFrames::frame("<a/>", 0), &ok), QStringLiteral("<a/>"));
        QVERIFY(ok);
        QCOMPARE(decodeWhole(KTRawFrames::frame(QString()), &ok), QString());
        QVERIFY(ok);
        QCOMPARE(decodeWhole(KTRawFrames::frameOfBlock(KTRawFrames::block(QByteArray("<a/>\0basura", 11))), &ok),
                 QStringLiteral("<a/>"));
    }

    void faultyPayloadsAreRefused_data()
    {
        QTest::addColumn<QByteArray>("frame");
        const QByteArray good = KTRawFrames::frame("<Documento>texto</Documento>");
        QByteArray lyingLength = good;
        qToBigEndian<quint32>(5, lyingLength.data() + 12); // claims 5 bytes of text, holds more
        QByteArray shortClaim = good;
        qToBigEndian<quint32>(100, shortClaim.data() + 12); // claims more than the stream gives
        QByteArray corrupt = good;
        corrupt[20] = char(corrupt[20] ^ 0x5a);
        QByteArray wrongBlockLength = good;
        qToBigEndian<quint32>(quint32(good.size()), wrongBlockLength.data() + 8);
        QTest::newRow("text longer than claimed") << lyingLength;
        QTest::newRow("text shorter than claimed") << shortClaim;
        QTest::newRow("corrupt stream") << corrupt;
        QTest::newRow("block length differs") << wrongBlockLength;
        QTest::newRow("not zlib") << KTRawFrames::frameOfBlock(KTRawFrames::bigEndian32(4) + "abcd");
        QTest::newRow("no block") << KTRawFrames::bigEndian64(0);
    }

    void faultyPayloadsAreRefused()
    {
        QFETCH(QByteArray, frame);
        bool ok = true;
        QCOMPARE(decodeWhole(frame, &ok), QString());
        QVERIFY(!ok);
    }

    void claimedTextAboveTheLimitIsRefusedBeforeInflating()
    {
        // 1 MiB of zeros compresses to about a kilobyte.
        const QByteArray bomb = KTRawFrames::frame(QString(1 << 20, QLatin1Char('a')), 9);
        QVERIFY(bomb.size() < 8192);
        bool ok = true;
        QCOMPARE(decodeWhole(bomb, &ok, 1 << 16), QString());
        QVERIFY(!ok);
        QCOMPARE(decodeWhole(bomb, &ok, 1 << 21).size(), 1 << 20);
        QVERIFY(ok);
    }

    void readingWaitsForWholeFramesAndChecksTheAnnouncedSize()
    {
        QByteArray stream = KTFrame::encode("<uno/>", 6) + KTFrame::encode("<dos/>", 6);
        QBuffer device;
        device.open(QIODevice::ReadWrite);
        qint64 blockSize = 0;
        QByteArray payload;
        QStringList texts;
        for (char byte : stream) {
            const qint64 at = device.pos();
            device.seek(device.size());
            device.write(&byte, 1);
            device.seek(at);
            while (KTFrame::read(&device, blockSize, 1024, &payload) == KTFrame::Complete)
                texts << KTFrame::decode(payload, 1024);
        }
        QCOMPARE(texts, QStringList({"<uno/>", "<dos/>"}));

        QBuffer huge;
        huge.setData(KTRawFrames::bigEndian64(1025) + QByteArray(16, 'x'));
        huge.open(QIODevice::ReadOnly);
        blockSize = 0;
        QCOMPARE(KTFrame::read(&huge, blockSize, 1024, &payload), KTFrame::TooLarge);
        QBuffer enormous;
        enormous.setData(KTRawFrames::bigEndian64(~quint64(0)));
        enormous.open(QIODevice::ReadOnly);
        blockSize = 0;
        QCOMPARE(KTFrame::read(&enormous, blockSize, 1024, &payload), KTFrame::TooLarge);
    }

    void nestingDepth()
    {
        QVERIFY(!KTFrame::tooDeep("<?xml version=\"1.0\"?><!-- x --><a><b/><c>t</c></a>", 2));
        QVERIFY(KTFrame::tooDeep("<a><b><c/></b></a>", 2));
        QString deep;
        for (int i = 0; i < 100000; ++i)
            deep += "<a>";
        QVERIFY(KTFrame::tooDeep(deep));
        QString wide;
        for (int i = 0; i < 10000; ++i)
            wide += "<a x=\"1\"/><b></b>";
        QVERIFY(!KTFrame::tooDeep("<r>" + wide + "</r>"));
    }
};

QTEST_GUILESS_MAIN(tst_KTFrame)
#include "tst_ktframe.moc"
