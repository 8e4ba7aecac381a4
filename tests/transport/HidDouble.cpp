#include "HidDouble.h"

#include <hidapi.h>

#include <QQueue>
#include <cerrno>
#include <cstdlib>
#include <cstring>

struct hid_device_ {
    QString path;
};

namespace RomCmd {
namespace Test {
namespace HidDouble {

namespace {

struct Attached {
    QString path;
    uint16_t vid;
    uint16_t pid;
    bool denied = false;
};

struct ReadOutcome {
    int kind;  // 1 report, 0 none, -1 failure
    QByteArray report;
};

struct State {
    QList<Attached> attached;
    QQueue<ReadOutcome> outcomes;
    int failWritesFrom = 0;
    int writeCalls = 0;
    QList<Write> writes;
    QList<Read> reads;
    QStringList pathsOpened;
    QList<uint32_t> idsOpened;
    int openDevices = 0;
    int libraryInitCalls = 0;
    int enumerations = 0;
    int listsFreed = 0;
    QList<uint32_t> enumerateFilters;
};

State& state() {
    static State instance;
    return instance;
}

// Opens the first attached device that `matches` accepts as hidapi would: no device without
// one, and EACCES for one the user may not open.
template <typename Match>
hid_device_* openFirst(Match matches) {
    for (const Attached& device : state().attached) {
        if (!matches(device))
            continue;
        if (device.denied) {
            errno = EACCES;
            return nullptr;
        }
        ++state().openDevices;
        return new hid_device_{device.path};
    }
    return nullptr;
}

}  // namespace

void reset() {
    state() = State();
}
void attach(const QString& path, uint16_t vid, uint16_t pid) {
    state().attached.append({path, vid, pid});
}
void denyAccess(const QString& path) {
    for (auto& device : state().attached) {
        if (device.path == path)
            device.denied = true;
    }
}
void queueReport(const QByteArray& report) {
    state().outcomes.enqueue({1, report});
}
void queueNoReport() {
    state().outcomes.enqueue({0, {}});
}
void queueReadFailure() {
    state().outcomes.enqueue({-1, {}});
}
void failWritesFrom(int callNumber) {
    state().failWritesFrom = callNumber;
}
QList<Write> writes() {
    return state().writes;
}
QList<Read> reads() {
    return state().reads;
}
QStringList pathsOpened() {
    return state().pathsOpened;
}
QList<uint32_t> idsOpened() {
    return state().idsOpened;
}
int openDevices() {
    return state().openDevices;
}
int libraryInitCalls() {
    return state().libraryInitCalls;
}
int enumerations() {
    return state().enumerations;
}
int listsFreed() {
    return state().listsFreed;
}
QList<uint32_t> enumerateFilters() {
    return state().enumerateFilters;
}

}  // namespace HidDouble
}  // namespace Test
}  // namespace RomCmd

using RomCmd::Test::HidDouble::Attached;
using RomCmd::Test::HidDouble::openFirst;
using RomCmd::Test::HidDouble::state;

extern "C" {

int hid_init(void) {
    ++state().libraryInitCalls;
    return 0;
}

int hid_exit(void) {
    ++state().libraryInitCalls;
    return 0;
}

// Lists every attached device whatever the filter, so the caller's own filtering is tested.
struct hid_device_info* hid_enumerate(unsigned short vendor_id, unsigned short product_id) {
    ++state().enumerations;
    state().enumerateFilters.append(uint32_t(vendor_id) << 16 | product_id);
    hid_device_info* head = nullptr;
    hid_device_info** tail = &head;
    for (const auto& device : state().attached) {
        auto* info = static_cast<hid_device_info*>(std::calloc(1, sizeof(hid_device_info)));
        info->path = ::strdup(device.path.toUtf8().constData());
        info->vendor_id = device.vid;
        info->product_id = device.pid;
        *tail = info;
        tail = &info->next;
    }
    return head;
}

void hid_free_enumeration(struct hid_device_info* devs) {
    if (devs != nullptr)
        ++state().listsFreed;
    while (devs != nullptr) {
        hid_device_info* next = devs->next;
        std::free(devs->path);
        std::free(devs);
        devs = next;
    }
}

hid_device* hid_open(unsigned short vendor_id, unsigned short product_id, const wchar_t*) {
    state().idsOpened.append(uint32_t(vendor_id) << 16 | product_id);
    return openFirst([&](const Attached& device) {
        return device.vid == vendor_id && device.pid == product_id;
    });
}

hid_device* hid_open_path(const char* path) {
    const QString wanted = QString::fromUtf8(path);
    state().pathsOpened.append(wanted);
    return openFirst([&](const Attached& device) { return device.path == wanted; });
}

int hid_write(hid_device* dev, const unsigned char* data, size_t length) {
    const int call = ++state().writeCalls;
    if (state().failWritesFrom != 0 && call >= state().failWritesFrom)
        return -1;
    state().writes.append(
        {dev->path, QByteArray(reinterpret_cast<const char*>(data), static_cast<int>(length))});
    return static_cast<int>(length);
}

int hid_read_timeout(hid_device*, unsigned char* data, size_t length, int milliseconds) {
    state().reads.append({length, milliseconds});
    if (state().outcomes.isEmpty())
        return 0;
    const auto outcome = state().outcomes.dequeue();
    if (outcome.kind <= 0)
        return outcome.kind;
    const size_t delivered = std::min(length, static_cast<size_t>(outcome.report.size()));
    std::memcpy(data, outcome.report.constData(), delivered);
    std::memset(data + delivered, RomCmd::Test::HidDouble::kPoison, length - delivered);
    return static_cast<int>(delivered);
}

void hid_close(hid_device* dev) {
    --state().openDevices;
    delete dev;
}

}  // extern "C"
