#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>

namespace RomCmd {
namespace ImageTool {

// What one JSON description asks for, with every path made absolute.
struct ImageDescription {
    QString outputPath;
    uint32_t loadMemory = 0;
    uint32_t loadAddress = 0;
    uint32_t entry = 0;
    bool bootLoaderFirmware = false;
    QStringList inputPaths;
};

// Reads and checks a description; on failure returns false with a message in *error.
bool readDescription(const QString& jsonPath, ImageDescription* description, QString* error);
// The same for JSON text already read from jsonPath, against which relative paths resolve.
bool parseDescription(const QByteArray& json, const QString& jsonPath,
                      ImageDescription* description, QString* error);

// Concatenates the inputs behind the header; on failure returns false with *error set.
bool buildImage(const ImageDescription& description, QByteArray* image, QString* error);

}  // namespace ImageTool
}  // namespace RomCmd
