#include "sim/DeviceRunner.h"

#include <chrono>
#include <cstdio>

#include "transport/Framing.h"

namespace RomCmd {
namespace Sim {

namespace {

constexpr int kPollSliceMs = 100;

std::string hex(const std::vector<uint8_t>& bytes, size_t limit = 32) {
    std::string out;
    char b[4];
    for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
        std::snprintf(b, sizeof b, "%02x", bytes[i]);
        out += b;
    }
    if (bytes.size() > limit) {
        out += "...";
    }
    return out;
}

}  // namespace

DeviceRunner::DeviceRunner(SimDevice& d, Link& l, const FaultPlan& f, RunnerOptions o,
                           const std::atomic<bool>& s)
    : device(d), link(l), faults(f), options(o), stop(s) {}

void DeviceRunner::run() {
    auto lastActivity = std::chrono::steady_clock::now();
    while (!stop) {
        HostFrame frame;
        if (!pending.empty()) {
            frame = pending.front();
            pending.erase(pending.begin());
        } else {
            frame = link.receive(kPollSliceMs);
        }
        if (frame.type == HostFrame::Type::None) {
            const auto idle = std::chrono::steady_clock::now() - lastActivity;
            if (device.transferInProgress() &&
                idle > std::chrono::milliseconds(options.idleAbortMs)) {
                device.abortTransfer();
            }
            continue;
        }
        lastActivity = std::chrono::steady_clock::now();
        handle(frame);
    }
}

void DeviceRunner::handle(const HostFrame& frame) {
    switch (frame.type) {
        case HostFrame::Type::Packet:
            handlePacket(frame.payload);
            break;
        case HostFrame::Type::Malformed:
            // A packet that failed its CRC or did not fit its report is refused.
            if (options.verbose) {
                std::fprintf(stderr, "romsim: malformed packet refused\n");
            }
            device.abortTransfer();
            link.sendAck(Framing::kAckRejected);
            break;
        case HostFrame::Type::Closed:
            device.abortTransfer();
            break;
        default:
            // Stray host responses outside a device packet exchange are ignored.
            break;
    }
}

void DeviceRunner::countCommand(const std::vector<uint8_t>& payload) {
    if (payload.size() < 4) {
        return;
    }
    const uint8_t code = payload[0];
    const bool starts = payload[2] != 0x01 || (code == 6 && !device.transferInProgress());
    if (!starts) {
        return;
    }
    const uint32_t n = ++commandCount[code];
    uint32_t status = 0;
    if (faults.statusFault(code, n, &status)) {
        device.forceStatusOnce(code, status);
    }
}

void DeviceRunner::handlePacket(const std::vector<uint8_t>& payload) {
    ++hostPackets;
    if (options.verbose) {
        std::fprintf(stderr, "romsim: host packet %u: %s\n", hostPackets, hex(payload).c_str());
    }
    countCommand(payload);
    if (const Fault* f = faults.hostPacketFault(hostPackets)) {
        switch (f->kind) {
            case FaultKind::Nak:
                device.abortTransfer();
                link.sendAck(Framing::kAckRejected);
                return;
            case FaultKind::Abort: {
                device.abortTransfer();
                link.sendAck(Framing::kAckAborted);
                std::vector<uint8_t> response = {payload.empty() ? uint8_t(0) : payload[0],
                                                 0,
                                                 0,
                                                 0,
                                                 uint8_t(f->value),
                                                 uint8_t(f->value >> 8),
                                                 uint8_t(f->value >> 16),
                                                 uint8_t(f->value >> 24)};
                sendDevicePacket(response);
                return;
            }
            case FaultKind::BadAck:
                device.abortTransfer();
                link.sendAck(0x7F);
                return;
            case FaultKind::BadAckStart:
                device.abortTransfer();
                link.sendBadAckStart();
                return;
            case FaultKind::NoAck:
                device.abortTransfer();
                return;
            case FaultKind::HalfAck:
                device.abortTransfer();
                link.sendAckStartOnly();
                return;
            case FaultKind::Vanish:
                device.abortTransfer();
                leave(Outcome::After::Reset);
                return;
            case FaultKind::Hangup:
                device.abortTransfer();
                link.hangup();
                return;
            default:
                break;
        }
    }

    const Outcome o = device.handlePacket(payload.data(), payload.size());
    link.sendAck(o.ack);
    bool completed = true;
    if (o.respond) {
        completed = sendDevicePacket(o.response);
    }
    if (completed && o.readFollows) {
        ++readCommands;
        const Fault* extra = faults.readCommandFault(readCommands);
        const size_t maxPayload =
            std::min(device.configuration().readPacketSize, link.maxPayload());
        const size_t extraBytes = extra ? std::min<size_t>(extra->value, link.maxPayload() - 4) : 0;
        std::vector<uint8_t> packet;
        while (device.nextReadPacket(&packet, maxPayload, extraBytes)) {
            ++dataPackets;
            const bool cutShort = faults.dataPacketFault(dataPackets) != nullptr;
            if (cutShort) {
                packet.resize(4);
                device.abortTransfer();
            }
            if (!sendDevicePacket(packet) || cutShort) {
                completed = false;
                break;
            }
        }
    }
    if (!completed) {
        device.abortTransfer();
    }
    if (o.after != Outcome::After::Nothing) {
        leave(o.after);
    }
}

bool DeviceRunner::sendDevicePacket(const std::vector<uint8_t>& payload) {
    ++devicePackets;
    PacketDamage damage = PacketDamage::None;
    uint32_t garbage = 0;
    const Fault* f = faults.devicePacketFault(devicePackets);
    if (f) {
        switch (f->kind) {
            case FaultKind::NoPacket:
                return false;
            case FaultKind::BadCrc:
                damage = PacketDamage::BadCrc;
                break;
            case FaultKind::BadTag:
                damage = PacketDamage::BadTag;
                break;
            case FaultKind::CutStart:
                damage = PacketDamage::CutStart;
                break;
            case FaultKind::CutTag:
                damage = PacketDamage::CutTag;
                break;
            case FaultKind::CutLength:
                damage = PacketDamage::CutLength;
                break;
            case FaultKind::CutPayload:
                damage = PacketDamage::CutPayload;
                break;
            case FaultKind::Garbage:
                garbage = f->value;
                break;
            default:
                break;
        }
    }
    if (options.verbose) {
        std::fprintf(stderr, "romsim: device packet %u: %s\n", devicePackets, hex(payload).c_str());
    }
    if (f && f->kind == FaultKind::VanishAfter) {
        link.closeInput();
    }
    link.sendPacket(payload, damage, garbage);
    if (f && f->kind == FaultKind::VanishAfter) {
        leave(Outcome::After::Reset);
        return false;
    }
    return waitHostResponse();
}

bool DeviceRunner::waitHostResponse() {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(options.responseWaitMs);
    while (!stop && std::chrono::steady_clock::now() < deadline) {
        HostFrame frame = link.receive(kPollSliceMs);
        switch (frame.type) {
            case HostFrame::Type::None:
                continue;
            case HostFrame::Type::Response:
                return frame.code == Framing::kResponseOk;
            case HostFrame::Type::Closed:
                return false;
            default:
                // The host moved on to a new packet: it gave up on this one.
                pending.push_back(frame);
                return false;
        }
    }
    return false;
}

void DeviceRunner::leave(Outcome::After reason) {
    if (options.verbose) {
        std::fprintf(stderr, "romsim: leaving the bus\n");
    }
    link.leaveBus(options.neverReturn ? -1 : options.leaveMs, stop);
    device.returnToBus(reason);
}

}  // namespace Sim
}  // namespace RomCmd
