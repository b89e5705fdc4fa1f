// config.xml from arbitrary bytes.
#include "app/QTConfiguration.h"
#include "tests/fuzz/FuzzSupport.h"

#include <QCoreApplication>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QTConfiguration config(QString::fromStdString(WriteTempFile(data, size, ".xml")));
    (void)config;
    return 0;
}
