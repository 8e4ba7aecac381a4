// tarvo_romsim: the virtual boot ROM on a pseudo-terminal and, optionally, on USB-HID.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/DeviceRunner.h"
#include "sim/FaultPlan.h"
#include "sim/HidServer.h"
#include "sim/SimDevice.h"
#include "sim/UartLink.h"

using namespace RomCmd::Sim;

namespace {

std::atomic<bool> stopRequested{false};

void onSignal(int) {
    stopRequested = true;
}

const char kUsage[] =
    "Usage: tarvo_romsim [options]\n"
    "Virtual boot ROM. Prints the pseudo-terminal's path as the first line of standard output\n"
    "and serves until SIGINT or SIGTERM. Memory and settings live as long as the process.\n"
    "\n"
    "Options:\n"
    "  --link PATH            also make PATH a symbolic link to the pseudo-terminal\n"
    "  --baud N               pace the UART like a real 8N1 line at N bit/s (default: no pacing)\n"
    "  --reply-latency MS     hold UART bursts shorter than 62 bytes MS ms, as a USB-serial\n"
    "                         chip's latency timer does (default 0)\n"
    "  --hid-socket PATH      also serve USB-HID devices on this Unix socket (for "
    "libtarvo_hidsim.so),\n"
    "                         or on 127.0.0.1:PORT when PATH is tcp:PORT\n"
    "  --devices N            number of USB-HID devices, each with its own state (default 1)\n"
    "  --pid N                USB product ID of the HID devices (default 0x0001)\n"
    "  --report-length N      HID report length in bytes, report ID included (default 1024)\n"
    "  --renumber             a HID device back on the bus takes the lowest free path number\n"
    "  --no-serial            HID devices without USB serial numbers (default TVSIM0001, ...)\n"
    "  --sysfs DIR            lay out the HID devices' sysfs entries under DIR, for the tool's\n"
    "                         TARVO_SYSFS_ROOT (device N sits in USB port 1-1.N)\n"
    "  --memory-map FILE      memory map in JSON (see sim/README.md)\n"
    "  --read-packet-size N   payload bytes of one read data packet, 5 to 1024 (default 512)\n"
    "  --rom-version HEX      ROM version word (default 0x52010200, R1.2.0)\n"
    "  --firmware-version HEX version reported while the firmware runs (default 0x46010000)\n"
    "  --soc-revision HEX     SoC revision word (default 0x41010000)\n"
    "  --life-cycle HEX       life-cycle byte; 0x08 and above are secure (default 0x03)\n"
    "  --capabilities HEX     capability bits (default 0x00010F07)\n"
    "  --command-mask HEX     supported-command mask (default 0x7FE)\n"
    "  --speed N              UART speed reported in RTE item 1 (default 115200)\n"
    "  --leave-ms N           time off the bus after a reset or a firmware load (default 2000)\n"
    "  --firmware-fails       after a firmware image the device returns still running the ROM\n"
    "  --never-return         after leaving the bus the device never comes back\n"
    "  --firmware-running     start already running the firmware\n"
    "  --fault FAULT           inject a fault (repeatable; syntax below)\n"
    "  --verbose              log every packet to standard error\n"
    "  --help                 show this text\n"
    "\n"
    "Memory map JSON (default: RAM 0 at 0x20000000 256 KiB, flash 1 at 0x08000000 2 MiB,\n"
    "OTP 0x20000 of 64 words):\n"
    "  {\"memories\": [{\"id\": 1, \"kind\": \"flash\", \"start\": \"0x08000000\",\n"
    "    \"unitShift\": 12, \"unitCount\": 512, \"pageSize\": 256, \"sectorSize\": 4096,\n"
    "    \"blockSize\": 65536}, ...]}\n"
    "  kind is ram, flash or otp; memoryType is optional; numbers may be \"0x\" texts.\n"
    "\n"
    "Load image (data of load-image packets): 32-byte little-endian header, then the data:\n"
    "  0 magic \"TVIM\", 4 totalSize (header + data), 8 loadMemory (a RAM), 12 loadAddress,\n"
    "  16 entry, 20 flags (bit 0: boot-loader firmware), 24 dataCrc (CRC-16/XMODEM of the\n"
    "  data, low 16 bits), 28 reserved 0.\n"
    "\n";

bool parseU32(const std::string& text, uint32_t* out) {
    if (text.empty() || text[0] == '-') {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno || *end || v > 0xFFFFFFFFull) {
        return false;
    }
    *out = uint32_t(v);
    return true;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "tarvo_romsim: %s\n", message.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    DeviceConfig config;
    FaultPlan faults;
    RunnerOptions runnerOptions;
    HidServerOptions hidOptions;
    std::string linkPath;
    std::string hidSocket;
    uint32_t baud = 0;
    uint32_t replyLatencyMs = 0;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc) {
                return false;
            }
            *out = argv[++i];
            return true;
        };
        auto number = [&](uint32_t* out, uint32_t low, uint32_t high) {
            std::string text;
            return value(&text) && parseU32(text, out) && *out >= low && *out <= high;
        };
        uint32_t n = 0;
        std::string text;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(FaultPlan::syntaxHelp().c_str(), stdout);
            return 0;
        } else if (arg == "--link") {
            if (!value(&linkPath) || linkPath.empty()) {
                return fail("--link needs a path");
            }
        } else if (arg == "--baud") {
            if (!number(&baud, 50, 20000000)) {
                return fail("--baud needs a bit rate from 50 to 20000000");
            }
        } else if (arg == "--reply-latency") {
            if (!number(&replyLatencyMs, 0, 1000)) {
                return fail("--reply-latency needs milliseconds from 0 to 1000");
            }
        } else if (arg == "--hid-socket") {
            if (!value(&hidSocket) || hidSocket.empty() || hidSocket.size() > 100) {
                return fail("--hid-socket needs a path of at most 100 characters");
            }
        } else if (arg == "--devices") {
            if (!number(&n, 1, 16)) {
                return fail("--devices needs a count from 1 to 16");
            }
            hidOptions.devices = int(n);
        } else if (arg == "--pid") {
            if (!number(&n, 0, 0xFFFF)) {
                return fail("--pid needs a product ID from 0 to 0xFFFF");
            }
            hidOptions.productId = uint16_t(n);
        } else if (arg == "--report-length") {
            if (!number(&n, 8, 1024)) {
                return fail("--report-length needs a length from 8 to 1024");
            }
            hidOptions.reportLength = n;
        } else if (arg == "--renumber") {
            hidOptions.renumber = true;
        } else if (arg == "--no-serial") {
            hidOptions.noSerial = true;
        } else if (arg == "--sysfs") {
            if (!value(&hidOptions.sysfsRoot) || hidOptions.sysfsRoot.empty()) {
                return fail("--sysfs needs a folder");
            }
        } else if (arg == "--memory-map") {
            std::string error;
            if (!value(&text)) {
                return fail("--memory-map needs a file");
            }
            std::ifstream file(text, std::ios::binary);
            std::stringstream contents;
            contents << file.rdbuf();
            if (!file) {
                return fail("cannot read memory map " + text);
            }
            if (!parseMemoryMap(contents.str(), &config.memories, &error)) {
                return fail("memory map " + text + ": " + error);
            }
        } else if (arg == "--read-packet-size") {
            if (!number(&n, 5, 1024)) {
                return fail("--read-packet-size needs a size from 5 to 1024");
            }
            config.readPacketSize = n;
        } else if (arg == "--rom-version") {
            if (!number(&config.romVersion, 0, 0xFFFFFFFF)) {
                return fail("--rom-version needs a 32-bit number");
            }
        } else if (arg == "--firmware-version") {
            if (!number(&config.firmwareVersion, 0, 0xFFFFFFFF)) {
                return fail("--firmware-version needs a 32-bit number");
            }
        } else if (arg == "--soc-revision") {
            if (!number(&config.socRevision, 0, 0xFFFFFFFF)) {
                return fail("--soc-revision needs a 32-bit number");
            }
        } else if (arg == "--life-cycle") {
            if (!number(&n, 0, 0xFF)) {
                return fail("--life-cycle needs a byte");
            }
            config.lifeCycle = uint8_t(n);
        } else if (arg == "--capabilities") {
            if (!number(&config.capabilities, 0, 0xFFFFFFFF)) {
                return fail("--capabilities needs a 32-bit number");
            }
        } else if (arg == "--command-mask") {
            if (!number(&config.commandMask, 0, 0xFFFFFFFF)) {
                return fail("--command-mask needs a 32-bit number");
            }
        } else if (arg == "--speed") {
            if (!number(&config.speed, 1200, 4000000)) {
                return fail("--speed needs a bit rate from 1200 to 4000000");
            }
        } else if (arg == "--leave-ms") {
            if (!number(&n, 0, 600000)) {
                return fail("--leave-ms needs milliseconds from 0 to 600000");
            }
            runnerOptions.leaveMs = int(n);
        } else if (arg == "--firmware-fails") {
            config.firmwareFails = true;
        } else if (arg == "--never-return") {
            runnerOptions.neverReturn = true;
        } else if (arg == "--firmware-running") {
            config.firmwareRunning = true;
        } else if (arg == "--fault") {
            std::string error;
            if (!value(&text)) {
                return fail("--fault needs a fault (see --help)");
            }
            if (!faults.add(text, &error)) {
                return fail(error);
            }
        } else if (arg == "--verbose") {
            runnerOptions.verbose = true;
        } else {
            return fail("unknown option \"" + arg + "\" (see --help)");
        }
    }
    if (hidSocket.empty() && (hidOptions.devices != 1)) {
        return fail("--devices needs --hid-socket");
    }
    if (hidSocket.empty() && !hidOptions.sysfsRoot.empty()) {
        return fail("--sysfs needs --hid-socket");
    }

    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = onSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    UartLink uart(baud, replyLatencyMs);
    std::string error;
    if (!uart.open(&error)) {
        return fail(error);
    }
    if (!linkPath.empty()) {
        ::unlink(linkPath.c_str());
        if (::symlink(uart.slavePath().c_str(), linkPath.c_str()) != 0) {
            return fail("cannot create link " + linkPath + ": " + std::strerror(errno));
        }
    }

    std::unique_ptr<HidServer> hid;
    if (!hidSocket.empty()) {
        DeviceConfig hidConfig = config;
        hidConfig.periphMask = 0x10;
        hidConfig.bootDevice = 0x10;
        hid.reset(new HidServer(hidOptions, hidConfig, faults, runnerOptions, stopRequested));
        if (!hid->start(hidSocket, &error)) {
            if (!linkPath.empty()) {
                ::unlink(linkPath.c_str());
            }
            return fail(error);
        }
    }

    std::printf("%s\n", uart.slavePath().c_str());
    std::fflush(stdout);

    SimDevice device(config);
    DeviceRunner runner(device, uart, faults, runnerOptions, stopRequested);
    runner.run();

    if (hid) {
        hid->stop();
    }
    if (!linkPath.empty()) {
        ::unlink(linkPath.c_str());
    }
    return 0;
}
