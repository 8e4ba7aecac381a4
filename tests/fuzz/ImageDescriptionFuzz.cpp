// The image tool's JSON description, parsed from the fuzz input as if read from a file.

#include <QByteArray>
#include <QDir>
#include <QString>

#include "tests/fuzz/FuzzInput.h"
#include "tools/ImageDescription.h"

using namespace RomCmd;
using namespace RomCmd::Fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Raw data: the parser sees exactly the input's bytes, without a terminating zero.
    const QByteArray json = QByteArray::fromRawData(reinterpret_cast<const char*>(data), int(size));
    ImageTool::ImageDescription description;
    QString error;
    if (ImageTool::parseDescription(json, QStringLiteral("/fuzz/description.json"), &description,
                                    &error)) {
        FUZZ_CHECK(error.isEmpty());
        FUZZ_CHECK(QDir::isAbsolutePath(description.outputPath));
        FUZZ_CHECK(!description.inputPaths.isEmpty());
        for (const QString& path : description.inputPaths)
            FUZZ_CHECK(QDir::isAbsolutePath(path));
    } else {
        FUZZ_CHECK(!error.isEmpty());
    }
    return 0;
}
