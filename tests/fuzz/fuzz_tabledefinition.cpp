// Table definition files as the database library reads them at start-up.

#include <KTDbTable.h>
#include <KTTableDefinitionReader.h>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    KTTableDefinitionReader reader(QStringLiteral("fuzTable"));
    delete reader.read(QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size)));
    return 0;
}
