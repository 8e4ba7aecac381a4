// libtarvo_hidsim.so: hidapi's C interface served by a running tarvo_romsim --hid-socket.
// Plain C++ and POSIX only, so it can be preloaded into any program that uses hidapi.
#include <hidapi.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "sim/HidWire.h"

using namespace RomCmd::HidWire;

struct hid_device_ {
    int fd = -1;
    uint32_t reportLength = 0;
    bool nonBlocking = false;
    std::string path;
    std::wstring error;
    hid_device_info* info = nullptr;
};

namespace {

constexpr int kReplyBoundMs = 2000;
// hid_read blocks in hidapi; here it gives up after this long and reports no data.
constexpr int kBlockingReadBoundMs = 60000;
constexpr unsigned short kReleaseNumber = 0x0100;

thread_local std::wstring globalError;

const char* socketPath() {
    const char* path = std::getenv("TARVO_HIDSIM_SOCKET");
    return path && *path ? path : nullptr;
}

wchar_t* duplicate(const wchar_t* text) {
    const size_t n = std::wcslen(text) + 1;
    wchar_t* copy = static_cast<wchar_t*>(std::malloc(n * sizeof(wchar_t)));
    if (copy) {
        std::wmemcpy(copy, text, n);
    }
    return copy;
}

void freeInfo(hid_device_info* d) {
    while (d) {
        hid_device_info* next = d->next;
        std::free(d->path);
        std::free(d->serial_number);
        std::free(d->manufacturer_string);
        std::free(d->product_string);
        std::free(d);
        d = next;
    }
}

hid_device_info* makeInfo(const std::string& path, unsigned short vid, unsigned short pid,
                          const std::wstring& serial) {
    hid_device_info* d = static_cast<hid_device_info*>(std::calloc(1, sizeof(hid_device_info)));
    if (!d) {
        return nullptr;
    }
    d->path = static_cast<char*>(std::malloc(path.size() + 1));
    if (d->path) {
        std::memcpy(d->path, path.c_str(), path.size() + 1);
    }
    d->vendor_id = vid;
    d->product_id = pid;
    d->serial_number = duplicate(serial.c_str());
    d->release_number = kReleaseNumber;
    d->manufacturer_string = duplicate(L"Tarvo");
    d->product_string = duplicate(L"Tarvo virtual boot ROM");
    d->usage_page = 0xFF00;
    d->usage = 1;
    d->interface_number = 0;
    d->bus_type = HID_API_BUS_USB;
    return d;
}

int copyString(const wchar_t* text, wchar_t* out, size_t maxlen) {
    if (!out || maxlen == 0) {
        return -1;
    }
    std::wcsncpy(out, text, maxlen);
    out[maxlen - 1] = L'\0';
    return 0;
}

std::wstring serialOf(const std::string& path);

}  // namespace

extern "C" {

int HID_API_EXPORT HID_API_CALL hid_init(void) {
    return 0;
}

int HID_API_EXPORT HID_API_CALL hid_exit(void) {
    return 0;
}

struct hid_device_info HID_API_EXPORT* HID_API_CALL hid_enumerate(unsigned short vendor_id,
                                                                  unsigned short product_id) {
    const int fd = connectSocket(socketPath());
    if (fd < 0) {
        globalError = L"virtual device socket not reachable";
        return nullptr;
    }
    uint8_t type = 0;
    std::vector<uint8_t> list;
    const bool ok = sendMessage(fd, MsgEnumerate, nullptr, 0) &&
                    receiveMessage(fd, kReplyBoundMs, &type, &list) == 1 && type == MsgDeviceList &&
                    list.size() >= 4;
    ::close(fd);
    if (!ok) {
        globalError = L"virtual device did not answer the enumeration";
        return nullptr;
    }
    hid_device_info* head = nullptr;
    hid_device_info** tail = &head;
    const uint32_t count = uint32_t(list[0]) | uint32_t(list[1]) << 8 | uint32_t(list[2]) << 16 |
                           uint32_t(list[3]) << 24;
    size_t at = 4;
    for (uint32_t i = 0; i < count && at + 6 <= list.size(); ++i) {
        const unsigned short vid = uint16_t(list[at] | list[at + 1] << 8);
        const unsigned short pid = uint16_t(list[at + 2] | list[at + 3] << 8);
        const size_t len = size_t(list[at + 4] | list[at + 5] << 8);
        at += 6;
        if (at + len > list.size()) {
            break;
        }
        const std::string path(list.begin() + long(at), list.begin() + long(at + len));
        at += len;
        if (at + 2 > list.size()) {
            break;
        }
        const size_t serialLength = size_t(list[at] | list[at + 1] << 8);
        at += 2;
        if (at + serialLength > list.size()) {
            break;
        }
        const std::wstring serial(list.begin() + long(at), list.begin() + long(at + serialLength));
        at += serialLength;
        if ((vendor_id && vid != vendor_id) || (product_id && pid != product_id)) {
            continue;
        }
        *tail = makeInfo(path, vid, pid, serial);
        if (*tail) {
            tail = &(*tail)->next;
        }
    }
    return head;
}

void HID_API_EXPORT HID_API_CALL hid_free_enumeration(struct hid_device_info* devs) {
    freeInfo(devs);
}

HID_API_EXPORT hid_device* HID_API_CALL hid_open_path(const char* path) {
    if (!path) {
        globalError = L"no path";
        return nullptr;
    }
    const int fd = connectSocket(socketPath());
    if (fd < 0) {
        globalError = L"virtual device socket not reachable";
        return nullptr;
    }
    uint8_t type = 0;
    std::vector<uint8_t> reply;
    const bool ok =
        sendMessage(fd, MsgOpen, reinterpret_cast<const uint8_t*>(path), std::strlen(path)) &&
        receiveMessage(fd, kReplyBoundMs, &type, &reply) == 1 && type == MsgOpened &&
        reply.size() >= 5 && reply[0] == 1;
    if (!ok) {
        ::close(fd);
        globalError = L"no such virtual device";
        return nullptr;
    }
    hid_device* dev = new hid_device_;
    dev->fd = fd;
    dev->reportLength = uint32_t(reply[1]) | uint32_t(reply[2]) << 8 | uint32_t(reply[3]) << 16 |
                        uint32_t(reply[4]) << 24;
    dev->path = path;
    return dev;
}

HID_API_EXPORT hid_device* HID_API_CALL hid_open(unsigned short vendor_id,
                                                 unsigned short product_id,
                                                 const wchar_t* serial_number) {
    hid_device_info* list = hid_enumerate(vendor_id, product_id);
    hid_device* dev = nullptr;
    for (hid_device_info* d = list; d && !dev; d = d->next) {
        if (serial_number && d->serial_number && std::wcscmp(serial_number, d->serial_number)) {
            continue;
        }
        dev = hid_open_path(d->path);
    }
    if (!list) {
        globalError = L"no matching virtual device";
    }
    hid_free_enumeration(list);
    return dev;
}

int HID_API_EXPORT HID_API_CALL hid_write(hid_device* dev, const unsigned char* data,
                                          size_t length) {
    if (!dev || !data || length == 0) {
        return -1;
    }
    if (length > dev->reportLength) {
        dev->error = L"report longer than the device's output report";
        return -1;
    }
    if (!sendMessage(dev->fd, MsgReport, data, length)) {
        dev->error = L"device disconnected";
        return -1;
    }
    return int(length);
}

int HID_API_EXPORT HID_API_CALL hid_read_timeout(hid_device* dev, unsigned char* data,
                                                 size_t length, int milliseconds) {
    if (!dev || !data) {
        return -1;
    }
    const int bound = milliseconds < 0 ? kBlockingReadBoundMs : milliseconds;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(bound);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        uint8_t type = 0;
        std::vector<uint8_t> report;
        const int r = receiveMessage(dev->fd, left > 0 ? int(left) : 0, &type, &report);
        if (r < 0) {
            dev->error = L"device disconnected";
            return -1;
        }
        if (r == 0) {
            return 0;
        }
        if (type == MsgReport) {
            const size_t n = std::min(length, report.size());
            std::memcpy(data, report.data(), n);
            return int(n);
        }
    }
}

int HID_API_EXPORT HID_API_CALL hid_read(hid_device* dev, unsigned char* data, size_t length) {
    return hid_read_timeout(dev, data, length, dev && dev->nonBlocking ? 0 : -1);
}

int HID_API_EXPORT HID_API_CALL hid_set_nonblocking(hid_device* dev, int nonblock) {
    if (!dev) {
        return -1;
    }
    dev->nonBlocking = nonblock != 0;
    return 0;
}

int HID_API_EXPORT HID_API_CALL hid_send_feature_report(hid_device* dev, const unsigned char*,
                                                        size_t) {
    if (dev) {
        dev->error = L"feature reports are not supported";
    }
    return -1;
}

int HID_API_EXPORT HID_API_CALL hid_get_feature_report(hid_device* dev, unsigned char*, size_t) {
    if (dev) {
        dev->error = L"feature reports are not supported";
    }
    return -1;
}

int HID_API_EXPORT HID_API_CALL hid_get_input_report(hid_device* dev, unsigned char*, size_t) {
    if (dev) {
        dev->error = L"input report requests are not supported";
    }
    return -1;
}

void HID_API_EXPORT HID_API_CALL hid_close(hid_device* dev) {
    if (!dev) {
        return;
    }
    if (dev->fd >= 0) {
        ::close(dev->fd);
    }
    freeInfo(dev->info);
    delete dev;
}

int HID_API_EXPORT_CALL hid_get_manufacturer_string(hid_device* dev, wchar_t* string,
                                                    size_t maxlen) {
    return dev ? copyString(L"Tarvo", string, maxlen) : -1;
}

int HID_API_EXPORT_CALL hid_get_product_string(hid_device* dev, wchar_t* string, size_t maxlen) {
    return dev ? copyString(L"Tarvo virtual boot ROM", string, maxlen) : -1;
}

int HID_API_EXPORT_CALL hid_get_serial_number_string(hid_device* dev, wchar_t* string,
                                                     size_t maxlen) {
    return dev ? copyString(serialOf(dev->path).c_str(), string, maxlen) : -1;
}

struct hid_device_info HID_API_EXPORT* HID_API_CALL hid_get_device_info(hid_device* dev) {
    if (!dev) {
        return nullptr;
    }
    if (!dev->info) {
        dev->info = makeInfo(dev->path, 0, 0, serialOf(dev->path));
    }
    return dev->info;
}

int HID_API_EXPORT_CALL hid_get_indexed_string(hid_device* dev, int, wchar_t*, size_t) {
    if (dev) {
        dev->error = L"indexed strings are not supported";
    }
    return -1;
}

HID_API_EXPORT const wchar_t* HID_API_CALL hid_error(hid_device* dev) {
    if (dev) {
        return dev->error.empty() ? L"Success" : dev->error.c_str();
    }
    return globalError.empty() ? L"Success" : globalError.c_str();
}

HID_API_EXPORT const struct hid_api_version* HID_API_CALL hid_version(void) {
    static const hid_api_version version = {HID_API_VERSION_MAJOR, HID_API_VERSION_MINOR,
                                            HID_API_VERSION_PATCH};
    return &version;
}

HID_API_EXPORT const char* HID_API_CALL hid_version_str(void) {
    return HID_API_VERSION_STR;
}

}  // extern "C"

namespace {

// What the enumeration says of the device at this path now.
std::wstring serialOf(const std::string& path) {
    std::wstring serial;
    hid_device_info* list = hid_enumerate(0, 0);
    for (const hid_device_info* d = list; d; d = d->next) {
        if (d->path && path == d->path && d->serial_number) {
            serial = d->serial_number;
        }
    }
    hid_free_enumeration(list);
    return serial;
}

}  // namespace
