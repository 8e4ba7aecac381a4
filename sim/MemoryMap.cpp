#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include "sim/SimDevice.h"

namespace RomCmd {
namespace Sim {

namespace {

// Numbers may be JSON numbers or texts such as "0x08000000".
bool readNumber(const QJsonObject& o, const char* key, bool required, uint32_t* out,
                std::string* error) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined()) {
        if (required) {
            *error = std::string("missing \"") + key + "\"";
        }
        return !required;
    }
    if (v.isDouble()) {
        const double d = v.toDouble();
        if (d >= 0 && d <= 4294967295.0 && d == double(uint64_t(d))) {
            *out = uint32_t(d);
            return true;
        }
    } else if (v.isString()) {
        bool ok = false;
        const qulonglong n = v.toString().toULongLong(&ok, 0);
        if (ok && n <= 0xFFFFFFFFull) {
            *out = uint32_t(n);
            return true;
        }
    }
    *error = std::string("\"") + key + "\" is not an unsigned 32-bit number";
    return false;
}

}  // namespace

bool parseMemoryMap(const std::string& json, std::vector<MemoryLayout>* map, std::string* error) {
    QJsonParseError parseError;
    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray(json.data(), int(json.size())), &parseError);
    if (doc.isNull()) {
        *error = "not valid JSON: " + parseError.errorString().toStdString();
        return false;
    }
    const QJsonArray list = doc.object().value(QLatin1String("memories")).toArray();
    if (!doc.isObject() || list.isEmpty()) {
        *error = "expected an object with a non-empty \"memories\" array";
        return false;
    }
    std::vector<MemoryLayout> result;
    for (int i = 0; i < list.size(); ++i) {
        const QJsonObject o = list.at(i).toObject();
        const std::string where = "memory " + std::to_string(i) + ": ";
        MemoryLayout m;
        const QString kind = o.value(QLatin1String("kind")).toString();
        if (kind == QLatin1String("ram")) {
            m.kind = MemoryKind::Ram;
            m.memoryType = 1;
        } else if (kind == QLatin1String("flash")) {
            m.kind = MemoryKind::Flash;
            m.memoryType = 8;
        } else if (kind == QLatin1String("otp")) {
            m.kind = MemoryKind::Otp;
            m.memoryType = 2;
        } else {
            *error = where + "\"kind\" must be \"ram\", \"flash\" or \"otp\"";
            return false;
        }
        uint32_t type = m.memoryType, shift = 0, units = 0;
        bool ok = readNumber(o, "id", true, &m.id, error) &&
                  readNumber(o, "start", true, &m.start, error) &&
                  readNumber(o, "unitShift", true, &shift, error) &&
                  readNumber(o, "unitCount", true, &units, error) &&
                  readNumber(o, "memoryType", false, &type, error) &&
                  readNumber(o, "pageSize", false, &m.pageSize, error) &&
                  readNumber(o, "sectorSize", false, &m.sectorSize, error) &&
                  readNumber(o, "blockSize", false, &m.blockSize, error);
        if (!ok) {
            *error = where + *error;
            return false;
        }
        m.memoryType = uint8_t(type);
        m.unitShift = uint8_t(shift);
        m.unitCount = units;
        // Memories are held in host memory: keep each one to 256 MiB.
        if (type > 0xFF || shift > 31 || m.size() == 0 || m.size() > (256u << 20) ||
            uint64_t(m.start) + m.size() > 0x100000000ull) {
            *error =
                where + "type, unit shift or size out of range (1 byte to 256 MiB, inside 4 GiB)";
            return false;
        }
        if (m.kind == MemoryKind::Flash && (m.sectorSize == 0 || m.size() % m.sectorSize != 0)) {
            *error = where + "a flash memory needs a sector size that divides its size";
            return false;
        }
        for (const MemoryLayout& other : result) {
            if (other.id == m.id) {
                *error = where + "duplicate id";
                return false;
            }
        }
        result.push_back(m);
    }
    *map = std::move(result);
    return true;
}

}  // namespace Sim
}  // namespace RomCmd
