#include "sim/HidServer.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

#include "sim/HidWire.h"
#include "transport/Framing.h"

namespace RomCmd {
namespace Sim {

using namespace HidWire;

namespace {

constexpr int kFirstMessageMs = 2000;

}  // namespace

// One device's USB connection. The acceptor thread hands over new connections; only the
// device thread reads, writes and closes the current one.
class HidLink : public Link {
public:
    explicit HidLink(uint32_t reportLength) : reportLength(reportLength) {}
    ~HidLink() override {
        closeFd(current);
        closeFd(handedOver);
    }

    bool isPresent() {
        std::lock_guard<std::mutex> lock(mutex);
        return present;
    }

    // False when the device is off the bus.
    bool attach(int fd) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!present) {
            return false;
        }
        closeFd(handedOver);
        handedOver = fd;
        return true;
    }

    HostFrame receive(int timeoutMs) override {
        takeOver();
        if (current < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeoutMs, 20)));
            return HostFrame{};
        }
        uint8_t type = 0;
        std::vector<uint8_t> report;
        const int r = receiveMessage(current, timeoutMs, &type, &report);
        if (r == 0) {
            return HostFrame{};
        }
        HostFrame f;
        if (r < 0) {
            closeFd(current);
            f.type = HostFrame::Type::Closed;
            return f;
        }
        if (type != MsgReport || report.size() < 2 || report[0] != Framing::kHidReportId) {
            return f;
        }
        // The HID layer pads every output report to its full length.
        report.resize(std::max<size_t>(report.size(), reportLength), 0);
        if (report[1] == Framing::kPacketTag && report.size() >= 4) {
            const size_t n = size_t(report[2]) | size_t(report[3]) << 8;
            if (4 + n > report.size()) {
                f.type = HostFrame::Type::Malformed;
                return f;
            }
            f.type = HostFrame::Type::Packet;
            f.payload.assign(report.begin() + 4, report.begin() + 4 + long(n));
        } else if (report[1] == Framing::kResponseOk || report[1] == Framing::kResponseCrcError) {
            f.type = HostFrame::Type::Response;
            f.code = report[1];
        }
        return f;
    }

    void sendAck(uint8_t status) override {
        sendReport({Framing::kHidReportId, status, 0, 0}, true);
    }

    // There is no start byte on HID: a half acknowledgement is no acknowledgement.
    void sendAckStartOnly() override {}

    void sendBadAckStart() override { sendAck(0x7F); }

    void sendPacket(const std::vector<uint8_t>& payload, PacketDamage damage, uint32_t) override {
        const size_t n = std::min(payload.size(), maxPayload());
        std::vector<uint8_t> report = {
            Framing::kHidReportId,
            damage == PacketDamage::BadTag ? uint8_t(0x5B) : Framing::kPacketTag, uint8_t(n),
            uint8_t(n >> 8)};
        report.insert(report.end(), payload.begin(), payload.begin() + long(n));
        switch (damage) {
            case PacketDamage::CutStart:
                report.resize(1);
                break;
            case PacketDamage::CutTag:
                report.resize(2);
                break;
            case PacketDamage::CutLength:
                report.resize(4);
                break;
            case PacketDamage::CutPayload:
                report.resize(4 + n / 2);
                break;
            default:
                sendReport(report, true);
                return;
        }
        // A cut report is delivered as it is, declaring more than it carries.
        sendReport(report, false);
    }

    void leaveBus(int ms, const std::atomic<bool>& stop) override {
        {
            std::lock_guard<std::mutex> lock(mutex);
            present = false;
            closeFd(handedOver);
        }
        closeFd(current);
        onBus(false);
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!stop && (ms < 0 || std::chrono::steady_clock::now() < until)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        onBus(true);
        std::lock_guard<std::mutex> lock(mutex);
        present = true;
    }

    // The host's answer to the last report then fails to write, as on a device that is gone.
    void closeInput() override {
        {
            std::lock_guard<std::mutex> lock(mutex);
            present = false;
        }
        takeOver();
        if (current >= 0) {
            ::shutdown(current, SHUT_RD);
        }
    }

    size_t maxPayload() const override {
        return std::min<size_t>(Framing::kHidMaxPayload, reportLength - 4);
    }

    std::function<void(bool present)> onBus = [](bool) {};

private:
    static void closeFd(int& fd) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }

    void takeOver() {
        std::lock_guard<std::mutex> lock(mutex);
        if (handedOver >= 0) {
            closeFd(current);
            current = handedOver;
            handedOver = -1;
        }
    }

    void sendReport(std::vector<uint8_t> report, bool pad) {
        takeOver();
        if (pad && report.size() < reportLength) {
            report.resize(reportLength, 0);
        }
        if (current >= 0 && !sendMessage(current, MsgReport, report.data(), report.size())) {
            closeFd(current);
        }
    }

    const uint32_t reportLength;
    std::mutex mutex;
    bool present = true;
    int handedOver = -1;
    int current = -1;
};

struct HidServer::Slot {
    Slot(const DeviceConfig& config, uint32_t reportLength) : device(config), link(reportLength) {}
    SimDevice device;
    HidLink link;
    std::string serialNumber;
    std::string location;
    int number = -1;  // of its path; -1 while off the bus with renumbering
    std::unique_ptr<DeviceRunner> runner;
    std::thread thread;
};

HidServer::HidServer(HidServerOptions o, const DeviceConfig& c, const FaultPlan& f, RunnerOptions r,
                     const std::atomic<bool>& stop)
    : options(o), config(c), faults(f), runnerOptions(r), stopFlag(stop) {}

HidServer::~HidServer() {
    stop();
}

std::string HidServer::devicePath(int index) {
    // Paths hold neither "-" nor ",": the tool splits its -u value at both.
    return "tarvosim:" + std::to_string(index);
}

bool HidServer::start(const std::string& socketPath, std::string* error) {
    sockaddr_un addr;
    std::memset(&addr, 0, sizeof addr);
    if (socketPath.size() >= sizeof addr.sun_path) {
        *error = "socket path too long: " + socketPath;
        return false;
    }
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, socketPath.c_str());
    listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::unlink(socketPath.c_str());
    if (listenFd < 0 || ::bind(listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd, 16) != 0) {
        *error = "cannot listen on " + socketPath + ": " + std::strerror(errno);
        return false;
    }
    path = socketPath;
    if (!sysfs.create(options.sysfsRoot, error)) {
        return false;
    }
    for (int i = 0; i < options.devices; ++i) {
        auto slot = std::make_unique<Slot>(config, options.reportLength);
        char serial[16];
        std::snprintf(serial, sizeof serial, "TVSIM%04d", i + 1);
        slot->serialNumber = options.noSerial ? "" : serial;
        slot->location = "1-1." + std::to_string(i + 1);
        slot->number = i;
        sysfs.attach(i, slot->location, options.vendorId, options.productId, devicePath(i));
        const size_t index = size_t(i);
        slot->link.onBus = [this, index](bool present) { moveOnBus(index, present); };
        slot->runner.reset(
            new DeviceRunner(slot->device, slot->link, faults, runnerOptions, stopFlag));
        DeviceRunner* runner = slot->runner.get();
        slot->thread = std::thread([runner] { runner->run(); });
        slots.push_back(std::move(slot));
    }
    acceptor = std::thread([this] { acceptLoop(); });
    return true;
}

void HidServer::stop() {
    if (acceptor.joinable()) {
        acceptor.join();
    }
    for (auto& slot : slots) {
        if (slot->thread.joinable()) {
            slot->thread.join();
        }
    }
    slots.clear();
    if (listenFd >= 0) {
        ::close(listenFd);
        listenFd = -1;
        ::unlink(path.c_str());
    }
}

std::vector<std::pair<int, size_t>> HidServer::presentByNumber() {
    std::vector<std::pair<int, size_t>> present;
    std::lock_guard<std::mutex> lock(busMutex);
    for (size_t i = 0; i < slots.size(); ++i) {
        if (slots[i]->number >= 0 && slots[i]->link.isPresent()) {
            present.emplace_back(slots[i]->number, i);
        }
    }
    std::sort(present.begin(), present.end());
    return present;
}

void HidServer::moveOnBus(size_t index, bool present) {
    std::lock_guard<std::mutex> lock(busMutex);
    Slot& slot = *slots[index];
    if (!present) {
        sysfs.detach(devicePath(slot.number));
        if (options.renumber) {
            slot.number = -1;
        }
        return;
    }
    if (slot.number < 0) {
        int number = 0;
        while (std::any_of(slots.begin(), slots.end(), [number](const std::unique_ptr<Slot>& s) {
            return s->number == number;
        })) {
            ++number;
        }
        slot.number = number;
    }
    sysfs.attach(int(index), slot.location, options.vendorId, options.productId,
                 devicePath(slot.number));
}

void HidServer::acceptLoop() {
    while (!stopFlag) {
        pollfd p{listenFd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) {
            continue;
        }
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            serveClient(fd);
        }
    }
}

void HidServer::serveClient(int fd) {
    uint8_t type = 0;
    std::vector<uint8_t> data;
    if (receiveMessage(fd, kFirstMessageMs, &type, &data) != 1) {
        ::close(fd);
        return;
    }
    if (type == MsgEnumerate) {
        std::vector<uint8_t> list(4, 0);
        uint32_t count = 0;
        for (const auto& entry : presentByNumber()) {
            ++count;
            const std::string p = devicePath(entry.first);
            const std::string& serial = slots[entry.second]->serialNumber;
            list.insert(list.end(), {uint8_t(options.vendorId), uint8_t(options.vendorId >> 8),
                                     uint8_t(options.productId), uint8_t(options.productId >> 8),
                                     uint8_t(p.size()), uint8_t(p.size() >> 8)});
            list.insert(list.end(), p.begin(), p.end());
            list.insert(list.end(), {uint8_t(serial.size()), uint8_t(serial.size() >> 8)});
            list.insert(list.end(), serial.begin(), serial.end());
        }
        list[0] = uint8_t(count);
        sendMessage(fd, MsgDeviceList, list.data(), list.size());
        ::close(fd);
        return;
    }
    if (type == MsgOpen) {
        const std::string wanted(data.begin(), data.end());
        for (const auto& entry : presentByNumber()) {
            const size_t i = entry.second;
            if (devicePath(entry.first) != wanted) {
                continue;
            }
            const uint32_t len = options.reportLength;
            const uint8_t reply[5] = {1, uint8_t(len), uint8_t(len >> 8), uint8_t(len >> 16),
                                      uint8_t(len >> 24)};
            // The reply goes out before the hand-over so the device thread owns all later traffic.
            if (slots[i]->link.isPresent() && sendMessage(fd, MsgOpened, reply, sizeof reply) &&
                slots[i]->link.attach(fd)) {
                return;
            }
            break;
        }
        const uint8_t refused[5] = {0, 0, 0, 0, 0};
        sendMessage(fd, MsgOpened, refused, sizeof refused);
    }
    ::close(fd);
}

}  // namespace Sim
}  // namespace RomCmd
