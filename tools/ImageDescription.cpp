#include "tools/ImageDescription.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <cmath>

#include "tools/ImageFormat.h"
#include "transport/Framing.h"

namespace RomCmd {
namespace ImageTool {

namespace {

constexpr double kMaxU32 = 4294967295.0;

const QSet<QString> knownKeys = {"output", "loadMemory",         "loadAddress",
                                 "entry",  "bootLoaderFirmware", "inputs"};

// Accepts a JSON integer or a text in decimal or 0x-prefixed hexadecimal.
bool readU32(const QJsonObject& object, const QString& key, uint32_t* value, QString* error) {
    const QJsonValue item = object.value(key);
    if (item.isDouble()) {
        const double number = item.toDouble();
        if (number != std::floor(number) || number < 0 || number > kMaxU32) {
            *error = QString(
                         "\"%1\" is out of range: %2 (expected an integer from 0 to "
                         "0xFFFFFFFF)")
                         .arg(key)
                         .arg(number, 0, 'g', 17);
            return false;
        }
        *value = uint32_t(number);
        return true;
    }
    if (item.isString()) {
        const QString text = item.toString().trimmed();
        static const QRegularExpression pattern("^(0[xX][0-9a-fA-F]+|[0-9]+)$");
        if (!pattern.match(text).hasMatch()) {
            *error = QString("\"%1\" is not a number: \"%2\"").arg(key, item.toString());
            return false;
        }
        // Digits that overflow even 64 bits fail the conversion: still a range problem.
        bool ok = false;
        const bool hex = text.startsWith("0x", Qt::CaseInsensitive);
        const qulonglong number =
            hex ? text.mid(2).toULongLong(&ok, 16) : text.toULongLong(&ok, 10);
        if (!ok || number > 0xFFFFFFFFull) {
            *error = QString(
                         "\"%1\" is out of range: %2 (expected an integer from 0 to "
                         "0xFFFFFFFF)")
                         .arg(key, text);
            return false;
        }
        *value = uint32_t(number);
        return true;
    }
    *error = QString("\"%1\" must be a number or a text such as \"0x20000000\"").arg(key);
    return false;
}

}  // namespace

bool readDescription(const QString& jsonPath, ImageDescription* description, QString* error) {
    QFile file(jsonPath);
    if (!QFileInfo(jsonPath).isFile() || !file.open(QIODevice::ReadOnly)) {
        *error = QString("cannot read the JSON file %1").arg(jsonPath);
        return false;
    }
    return parseDescription(file.readAll(), jsonPath, description, error);
}

bool parseDescription(const QByteArray& json, const QString& jsonPath,
                      ImageDescription* description, QString* error) {
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *error = QString("%1 is not valid JSON: %2 at offset %3")
                     .arg(jsonPath, parseError.errorString())
                     .arg(parseError.offset);
        return false;
    }
    if (!document.isObject()) {
        *error = QString("%1 must hold one JSON object").arg(jsonPath);
        return false;
    }
    const QJsonObject object = document.object();
    // A misspelt key would otherwise silently fall back to a default.
    for (const QString& key : object.keys()) {
        if (!knownKeys.contains(key)) {
            *error = QString("unknown key \"%1\" in %2").arg(key, jsonPath);
            return false;
        }
    }
    for (const char* key : {"output", "loadMemory", "loadAddress", "inputs"}) {
        if (!object.contains(key)) {
            *error = QString("missing key \"%1\" in %2").arg(key, jsonPath);
            return false;
        }
    }

    const QDir base = QFileInfo(jsonPath).absoluteDir();
    const QJsonValue output = object.value("output");
    if (!output.isString() || output.toString().isEmpty()) {
        *error = QString("\"output\" must be a non-empty file name");
        return false;
    }
    description->outputPath = QDir::cleanPath(base.absoluteFilePath(output.toString()));

    if (!readU32(object, "loadMemory", &description->loadMemory, error) ||
        !readU32(object, "loadAddress", &description->loadAddress, error)) {
        return false;
    }
    description->entry = description->loadAddress;
    if (object.contains("entry") && !readU32(object, "entry", &description->entry, error)) {
        return false;
    }

    description->bootLoaderFirmware = false;
    if (object.contains("bootLoaderFirmware")) {
        const QJsonValue flag = object.value("bootLoaderFirmware");
        if (!flag.isBool()) {
            *error = QString("\"bootLoaderFirmware\" must be true or false");
            return false;
        }
        description->bootLoaderFirmware = flag.toBool();
    }

    const QJsonValue inputs = object.value("inputs");
    if (!inputs.isArray() || inputs.toArray().isEmpty()) {
        *error = QString("\"inputs\" must be a non-empty list of file names");
        return false;
    }
    description->inputPaths.clear();
    for (const QJsonValue& input : inputs.toArray()) {
        if (!input.isString() || input.toString().isEmpty()) {
            *error = QString("every entry of \"inputs\" must be a non-empty file name");
            return false;
        }
        description->inputPaths.append(QDir::cleanPath(base.absoluteFilePath(input.toString())));
    }
    return true;
}

bool buildImage(const ImageDescription& description, QByteArray* image, QString* error) {
    QByteArray data;
    for (const QString& path : description.inputPaths) {
        QFile input(path);
        if (!QFileInfo(path).isFile() || !input.open(QIODevice::ReadOnly)) {
            *error = QString("cannot read the input file %1").arg(path);
            return false;
        }
        const QByteArray content = input.readAll();
        if (input.error() != QFile::NoError) {
            *error = QString("cannot read the input file %1: %2").arg(path, input.errorString());
            return false;
        }
        data.append(content);
    }
    if (data.isEmpty()) {
        *error = QString("the input files hold no data");
        return false;
    }
    const quint64 dataSize = quint64(data.size());
    if (dataSize + ImageFormat::kHeaderSize > 0xFFFFFFFFull) {
        *error = QString("the image is too large: %1 bytes of data").arg(dataSize);
        return false;
    }
    if (quint64(description.loadAddress) + dataSize - 1 > 0xFFFFFFFFull) {
        *error = QString(
                     "the data (%1 bytes) at load address 0x%2 runs past the end of the "
                     "32-bit address space")
                     .arg(dataSize)
                     .arg(description.loadAddress, 8, 16, QChar('0'));
        return false;
    }

    ImageFormat::Header header;
    header.totalSize = uint32_t(ImageFormat::kHeaderSize + dataSize);
    header.loadMemory = description.loadMemory;
    header.loadAddress = description.loadAddress;
    header.entry = description.entry;
    header.flags = description.bootLoaderFirmware ? ImageFormat::kFlagBootLoaderFirmware : 0;
    header.dataCrc = Crc16Xmodem::compute(reinterpret_cast<const uint8_t*>(data.constData()),
                                          size_t(data.size()));
    uint8_t encoded[ImageFormat::kHeaderSize];
    ImageFormat::encodeHeader(header, encoded);
    *image = QByteArray(reinterpret_cast<const char*>(encoded), int(sizeof encoded)) + data;
    return true;
}

}  // namespace ImageTool
}  // namespace RomCmd
