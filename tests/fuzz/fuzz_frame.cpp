// Bytes from the network: frames read as the connection reads them, and
// every document one decodes to dispatched by a connection without a
// database, up to the component call.

#include <KTFrame.h>
#include <KTTcpSocket.h>

#include <QBuffer>
#include <QCoreApplication>

#include <cstddef>
#include <cstdint>

namespace {

KTTcpSocket& connection()
{
    static int argc = 1;
    static char name[] = "fuzz_frame";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
    Q_UNUSED(app);
    static KTTcpSocket socket({}, {QStringLiteral("Empresa"), QStringLiteral("clave"), QString(), QString()});
    return socket;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    KTTcpSocket& socket = connection();
    QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    qint64 blockSize = 0;
    const qint64 maxSize = 1 << 20;
    for (int frames = 0; frames < 16; ++frames) {
        QByteArray payload;
        if (KTFrame::read(&buffer, blockSize, maxSize, &payload) != KTFrame::Complete)
            break;
        socket.parseXML(KTFrame::decode(payload, maxSize));
    }
    // The same bytes as a document that arrived whole.
    socket.parseXML(QString::fromUtf8(bytes));
    return 0;
}
