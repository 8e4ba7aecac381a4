// tarvo_bench_hid_client: the reference client over USB-HID through hidapi.
#include <hidapi.h>

#include <cstdio>
#include <cstring>

#include "bench/RefClient.h"

namespace {

using RefClient::fail;

constexpr uint8_t kReportId = 0x01;
constexpr uint8_t kTag = 0xA5;
constexpr int kTimeoutMs = 10000;
constexpr size_t kReport = 1024;

class HidLink : public RefClient::Link {
public:
    explicit HidLink(const char* path) : device(hid_open_path(path)) {
        if (!device) {
            fail(std::string("cannot open HID device ") + path);
        }
    }
    ~HidLink() override { hid_close(device); }

    void send(const uint8_t* payload, size_t n) override {
        uint8_t report[kReport];
        if (n > kReport - 4) {
            fail("host packet too long");
        }
        report[0] = kReportId;
        report[1] = kTag;
        report[2] = uint8_t(n);
        report[3] = uint8_t(n >> 8);
        std::memcpy(report + 4, payload, n);
        if (hid_write(device, report, n + 4) < 0) {
            fail("HID write failed");
        }
    }

    uint8_t readAck() override {
        uint8_t report[4];
        const int n = hid_read_timeout(device, report, sizeof report, kTimeoutMs);
        if (n < 0) {
            fail("HID read failed");
        }
        if (n < 2) {
            fail(n == 0 ? "no acknowledgement from the device" : "acknowledgement too short");
        }
        return report[1];
    }

    size_t readPacket(uint8_t* payload) override {
        uint8_t report[kReport];
        const int got = hid_read_timeout(device, report, sizeof report, kTimeoutMs);
        if (got < 0) {
            fail("HID read failed");
        }
        if (got == 0) {
            fail("no packet from the device");
        }
        if (got < 4) {
            fail("device report too short");
        }
        const size_t n = size_t(report[2]) | size_t(report[3]) << 8;
        if (n > size_t(got) - 4) {
            fail("device packet longer than its report");
        }
        std::memcpy(payload, report + 4, n);
        const uint8_t answer[4] = {kReportId, 0xA1, 0, 0};
        if (hid_write(device, answer, sizeof answer) < 0) {
            fail("HID write of the answer failed");
        }
        return n;
    }

private:
    hid_device* device;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s DEVICE-PATH COMMAND...\n%s", argv[0],
                     RefClient::kCommandUsage);
        return 2;
    }
    RefClient::checkUsage(argc - 2, argv + 2);
    HidLink link(argv[1]);
    RefClient::runCommand(link, argc - 2, argv + 2);
    return 0;
}
