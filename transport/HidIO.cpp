#include "transport/HidIO.h"

#include <hidapi.h>

#include <QDebug>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "transport/DeviceNode.h"
#include "transport/Framing.h"
#include "transport/Interruption.h"
#include "transport/ResultCode.h"
#include "transport/UsbLocation.h"

namespace RomCmd {

namespace {

// Installed by the package; without it only root may open the boot ROM's hidraw nodes.
const char kUdevRule[] = "/usr/lib/udev/rules.d/60-tarvo-boot-rom.rules";
// A wait for a report looks at the interruption request at least this often.
constexpr int kReadSliceMs = 100;

// The HID layer takes any file it can open for a device, and crashes on what is none. A path
// that names no file (the virtual device's) is the HID layer's to judge.
bool isHidNode(const QString& path) {
    return DeviceNode::classify(QFile::encodeName(path).toStdString(), "hidraw", false) !=
           DeviceNode::Kind::Other;
}

}  // namespace

HidIO::HidIO(const QVariant& deviceInfo) : info(deviceInfo.value<UsbInfo>()) {
    errno = 0;
    if (!info.devicePath.isEmpty()) {
        if (isHidNode(info.devicePath))
            device = hid_open_path(info.devicePath.toUtf8().constData());
    } else {
        device = hid_open(static_cast<unsigned short>(info.vid & 0xFFFF),
                          static_cast<unsigned short>(info.pid & 0xFFFF), nullptr);
    }
    const int openError = errno;
    if (device == nullptr) {
        status = ResultOpenFailed;
        qCritical() << "Usb device open failed!"
                    << " vid: " << info.vid << " pid: " << info.pid
                    << " devicePath: " << info.devicePath;
        // hidapi leaves the errno of its failed open(); by IDs it may also be left over from
        // enumerating, so only a device that is really there counts as refused.
        const bool refused = openError == EACCES || openError == EPERM;
        if (refused &&
            (!info.devicePath.isEmpty() ||
             !devicePaths(uint16_t(info.vid & 0xFFFF), uint16_t(info.pid & 0xFFFF)).isEmpty())) {
            qInfo().noquote() << "No permission to open the USB device: the udev rule" << kUdevRule
                              << "gives it to the logged-in user and to the group plugdev"
                                 " (apply it with 'udevadm control --reload' and replug the"
                                 " device; add a service account to plugdev)";
        }
    }
}

HidIO::~HidIO() {
    if (device != nullptr) {
        hid_close(device);
        device = nullptr;
    }
}

int HidIO::writePacket(const uint8_t* payload, uint16_t length) {
    if (device == nullptr)
        return status = ResultOpenFailed;
    // One report carries at most 1020 payload bytes; more would not fit the report buffer.
    if (length > Framing::kHidMaxPayload) {
        qCritical() << "Write payload error! length: " << length;
        return status = ResultWritePayloadFailed;
    }
    uint8_t report[Framing::kHidReportBufferSize];
    report[0] = Framing::kHidReportId;
    report[1] = Framing::kPacketTag;
    report[2] = static_cast<uint8_t>(length & 0xFF);
    report[3] = static_cast<uint8_t>(length >> 8);
    if (length > 0)
        std::memcpy(report + Framing::kHeaderSize, payload, length);
    if (hid_write(device, report, Framing::kHeaderSize + length) < 0)
        return status = ResultWritePayloadFailed;
    status = ResultOk;
    return readAck();
}

int HidIO::readPacket(uint8_t* buffer, uint16_t* length) {
    if (device == nullptr)
        return status = ResultOpenFailed;
    status = ResultOk;
    uint8_t report[Framing::kHidReportBufferSize];
    const int received = readReport(report, sizeof report);
    if (received == kInterrupted)
        return status = ResultInterrupted;
    if (received < 0)
        return status = ResultReadPayloadFailed;
    if (received == 0)
        return status = ResultTimeout;

    // Never read past the delivered report: a report too short for its length field or
    // declaring more payload than it carries is answered (so the device is not left
    // waiting) and rejected.
    if (static_cast<size_t>(received) < Framing::kHeaderSize) {
        sendResponse(Framing::kResponseOk);
        qCritical() << "Read payload length error! report bytes: " << received;
        return status = ResultReadPayloadLengthFailed;
    }
    const uint16_t n = static_cast<uint16_t>(report[2] | (report[3] << 8));
    if (n > static_cast<size_t>(received) - Framing::kHeaderSize) {
        sendResponse(Framing::kResponseOk);
        qCritical() << "Read payload buffer error! length: " << n << " report bytes: " << received;
        return status = ResultReadPayloadBufferFailed;
    }
    if (n > 0)
        std::memcpy(buffer, report + Framing::kHeaderSize, n);
    *length = n;
    return sendResponse(Framing::kResponseOk);
}

int HidIO::readAck() {
    if (device == nullptr)
        return status = ResultOpenFailed;
    status = ResultOk;
    uint8_t report[Framing::kHidAckSize] = {};
    const int received = readReport(report, sizeof report);
    if (received == kInterrupted)
        return status = ResultInterrupted;
    if (received < 0)
        return status = ResultSetTimeoutFailed;
    if (received == 0)
        return status = ResultReadAckStartFailed;
    // A report without a status byte is no acknowledgement.
    if (received < 2)
        return status = ResultFailure;
    return status = Framing::ackStatusToResult(report[1]);
}

// The HID layer may resume its wait after a signal (libusb's does), so it waits in slices
// that add up to the time-out.
int HidIO::readReport(uint8_t* report, size_t size) {
    if (timeout == 0)
        return hid_read_timeout(device, report, size, 0);
    int left = timeout;
    for (;;) {
        if (Interruption::requested())
            return kInterrupted;
        const int slice = left < 0 ? kReadSliceMs : std::min(left, kReadSliceMs);
        const int received = hid_read_timeout(device, report, size, slice);
        if (received < 0 && Interruption::requested())
            return kInterrupted;
        if (received != 0)
            return received;
        if (left > 0) {
            left -= slice;
            if (left == 0)
                return 0;
        }
    }
}

int HidIO::sendResponse(uint8_t code) {
    if (device == nullptr)
        return status = ResultOpenFailed;
    status = ResultOk;
    const uint8_t report[4] = {Framing::kHidReportId, code, 0x00, 0x00};
    if (hid_write(device, report, sizeof report) < 0)
        return status = ResultSendResponseFailed;
    return status = ResultOk;
}

QStringList HidIO::devicePaths(uint16_t vid, uint16_t pid) {
    QStringList paths;
    for (const UsbInfo& entry : devices(vid, pid))
        paths << entry.devicePath;
    return paths;
}

QList<UsbInfo> HidIO::devices(uint16_t vid, uint16_t pid) {
    QList<UsbInfo> found;
    hid_device_info* list = hid_enumerate(vid, pid);
    for (const hid_device_info* entry = list; entry != nullptr; entry = entry->next) {
        if (vid != 0 && entry->vendor_id != vid)
            continue;
        if (pid != 0 && entry->product_id != pid)
            continue;
        if (entry->path == nullptr)
            continue;
        UsbInfo info;
        info.devicePath = QString::fromUtf8(entry->path);
        info.vid = entry->vendor_id;
        info.pid = entry->product_id;
        if (entry->serial_number != nullptr)
            info.serialNumber = QString::fromWCharArray(entry->serial_number);
        info.location = UsbLocation::ofHidDevice(info.devicePath);
        found << info;
    }
    hid_free_enumeration(list);
    return found;
}

}  // namespace RomCmd
