#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

#include "app/Version.h"
#include "tools/ImageDescription.h"
#include "tools/ImageFormat.h"

namespace {

constexpr int kExitError = 1;
constexpr int kExitUsage = 2;

QString hex32(uint32_t value) {
    return QString("0x%1").arg(value, 8, 16, QChar('0'));
}

int fail(const QString& message, int exitCode = kExitError) {
    QTextStream(stderr) << "tarvo_img_util: error: " << message << '\n';
    return exitCode;
}

int createImage(const QString& jsonPath, const QString& outputOverride) {
    using namespace RomCmd::ImageTool;
    ImageDescription description;
    QString error;
    if (!readDescription(jsonPath, &description, &error)) {
        return fail(error);
    }
    if (!outputOverride.isEmpty()) {
        description.outputPath = QFileInfo(outputOverride).absoluteFilePath();
    }
    QByteArray image;
    if (!buildImage(description, &image, &error)) {
        return fail(error);
    }
    if (!QDir().mkpath(QFileInfo(description.outputPath).absolutePath())) {
        return fail(QString("cannot create the folder of %1").arg(description.outputPath));
    }
    // Written aside and renamed, so a failed run never leaves a half-written image behind.
    QSaveFile output(description.outputPath);
    if (!output.open(QIODevice::WriteOnly) || output.write(image) != image.size() ||
        !output.commit()) {
        return fail(
            QString("cannot write %1: %2").arg(description.outputPath, output.errorString()));
    }

    RomCmd::ImageFormat::Header header;
    RomCmd::ImageFormat::decodeHeader(reinterpret_cast<const uint8_t*>(image.constData()),
                                      size_t(image.size()), &header);
    QTextStream out(stdout);
    out << "Created image: " << description.outputPath << '\n';
    for (const QString& input : description.inputPaths) {
        out << "  input: " << input << " (" << QFileInfo(input).size() << " bytes)\n";
    }
    out << "  size: header " << RomCmd::ImageFormat::kHeaderSize << " bytes, data "
        << header.totalSize - RomCmd::ImageFormat::kHeaderSize << " bytes, total "
        << header.totalSize << " bytes\n";
    out << "  load memory: " << hex32(header.loadMemory)
        << ", load address: " << hex32(header.loadAddress) << ", entry: " << hex32(header.entry)
        << '\n';
    out << "  flags: " << hex32(header.flags)
        << (header.flags & RomCmd::ImageFormat::kFlagBootLoaderFirmware ? " (boot-loader firmware)"
                                                                        : "")
        << ", data CRC: " << QString("0x%1").arg(header.dataCrc, 4, 16, QChar('0')) << '\n';
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("tarvo_img_util");
    QCoreApplication::setApplicationVersion(RomCmd::kVersion);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Builds a load image for the Tarvo boot ROM from a JSON description.\n"
        "Usage: tarvo_img_util [--output FILE] -- create_image DESCRIPTION.json\n"
        "The description format is explained in tools/README.md.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(
        {{"o", "output"}, "Write the image to FILE instead of the description's output.", "FILE"});
    parser.addPositionalArgument("command", "create_image");
    parser.addPositionalArgument("json", "The JSON description file.");
    if (!parser.parse(QCoreApplication::arguments())) {
        return fail(parser.errorText(), kExitUsage);
    }
    if (parser.isSet("help")) {
        parser.showHelp(0);
    }
    if (parser.isSet("version")) {
        parser.showVersion();
    }

    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty()) {
        return fail("no command given; expected: -- create_image DESCRIPTION.json", kExitUsage);
    }
    if (positional.at(0) != "create_image") {
        return fail(QString("unknown command \"%1\"; expected: create_image").arg(positional.at(0)),
                    kExitUsage);
    }
    if (positional.size() != 2) {
        return fail("create_image takes exactly one JSON description file", kExitUsage);
    }
    return createImage(positional.at(1), parser.value("output"));
}
