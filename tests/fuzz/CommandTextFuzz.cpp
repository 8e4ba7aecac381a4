// The command text path: the first line of the fuzz input is one -r value, dispatched to its
// handler; the rest scripts what the transport answers (results and device packets).

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QMetaObject>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "console/RomConsoleMode.h"
#include "romcmd/RomCmd.h"
#include "tests/common/ToolParser.h"
#include "tests/console/ConsoleTestAccess.h"
#include "tests/fuzz/FuzzInput.h"
#include "tests/romcmd/FakeDeviceIO.h"

using namespace RomCmd;
using namespace RomCmd::Fuzz;

namespace {

struct Console {
    std::unique_ptr<QCoreApplication> application;
    std::unique_ptr<QTemporaryDir> folder;
    std::unique_ptr<QCommandLineParser> parser;
    std::unique_ptr<RomConsoleMode> console;
    std::unique_ptr<ConsoleTestAccess> access;
    // One engine for all inputs: its transport's script is replaced for each one.
    Test::FakeDeviceIO* io = nullptr;
};

// Engine signals reach the controller's slots as in a real run.
void connectSlots(::RomCmd::RomCmd* engine, RomConsoleMode* console) {
    QObject::connect(engine, SIGNAL(signalRTEQueried(int, QVariant)), console,
                     SLOT(slotRTEQueried(int, QVariant)));
    QObject::connect(engine, SIGNAL(signalMemory2FileReadProgress(int, int)), console,
                     SLOT(slotMemory2FileReadProgress(int, int)));
    QObject::connect(engine, SIGNAL(signalMemoryWriteProgress(int, int)), console,
                     SLOT(slotMemoryWriteProgress(int, int)));
    QObject::connect(engine, SIGNAL(signalFile2MemoryWriteProgress(int, int)), console,
                     SLOT(slotFile2MemoryWriteProgress(int, int)));
    QObject::connect(engine, SIGNAL(signalImageLoadProgress(int, int)), console,
                     SLOT(slotImageLoadProgress(int, int)));
    QObject::connect(engine, &::RomCmd::RomCmd::signalMemoryReadProgress, console,
                     [console](uint32_t memoryId, uint32_t address, uint8_t* value, int length,
                               int total, int progress, bool) {
                         const uint8_t* bytes = value;
                         QMetaObject::invokeMethod(
                             console, "slotMemoryReadProgress", Qt::DirectConnection,
                             Q_ARG(uint32_t, memoryId), Q_ARG(uint32_t, address),
                             Q_ARG(const uint8_t*, bytes), Q_ARG(uint32_t, uint32_t(length)),
                             Q_ARG(uint32_t, uint32_t(total)), Q_ARG(uint32_t, uint32_t(progress)));
                     });
}

QTemporaryDir* scratch = nullptr;
int criticalLines = 0;

bool verbose = false;

void countingMessageHandler(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtCriticalMsg)
        ++criticalLines;
    if (verbose)
        std::fprintf(stderr, "%d %s\n", int(type), qPrintable(text));
}

Console& setUp() {
    static int argc = 1;
    static char name[] = "tarvo_fuzz_command_text";
    static char* argv[] = {name, nullptr};
    // Lives as long as the process: its Qt objects must not outlive the application at exit.
    static Console& c = *new Console;
    // TARVO_FUZZ_VERBOSE=1 shows the log while an input is looked into.
    verbose = qEnvironmentVariableIsSet("TARVO_FUZZ_VERBOSE");
    qInstallMessageHandler(countingMessageHandler);
    c.application = std::make_unique<QCoreApplication>(argc, argv);
    // Output files named by a command land in a folder of their own.
    c.folder = std::make_unique<QTemporaryDir>();
    QDir::setCurrent(c.folder->path());
    scratch = c.folder.get();
    std::atexit([] { scratch->remove(); });
    c.parser = Test::makeParser({"tarvo_manufacturing_tool"});
    c.console = std::make_unique<RomConsoleMode>(*c.parser);
    c.access = std::make_unique<ConsoleTestAccess>(*c.console);
    auto transport = std::make_unique<Test::FakeDeviceIO>();
    c.io = transport.get();
    auto* engine = new ::RomCmd::RomCmd(std::move(transport), 1, QStringLiteral("fuzz"));
    connectSlots(engine, c.console.get());
    c.access->romCmd = engine;
    return c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Console& c = setUp();
    FuzzInput input(data, size);
    size_t textLength = 0;
    while (textLength < size && data[textLength] != '\n')
        ++textLength;
    size_t taken = 0;
    const uint8_t* textBytes = input.take(textLength, &taken);
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(textBytes), int(taken));
    input.byte();
    // Paths stay inside the private folder.
    if (text.contains(QLatin1Char('/')) || text.contains(QLatin1Char('\\')))
        return 0;

    Test::FakeDeviceIO* io = c.io;
    io->writeResults.clear();
    io->replies.clear();
    io->written.clear();
    io->timeoutAtWrite.clear();
    io->timeoutCalls.clear();
    io->timeout = 10000;
    io->status = 0;
    // A handful of answers reaches every step of a command; longer scripts only repeat them.
    for (int entries = 0; entries < 16 && !input.empty(); ++entries) {
        const uint8_t kind = input.byte();
        size_t payloadSize = 0;
        const uint8_t* payload = input.take(input.u16() & 0x7FF, &payloadSize);
        if (kind & 0x80) {
            io->writeResults << (kind & 0x1F) % 20;
        } else {
            const int result = (kind & 0x40) ? (kind & 0x1F) % 20 : 0;
            io->replies << Test::FakeDeviceIO::Reply{
                result, QByteArray(reinterpret_cast<const char*>(payload), int(payloadSize))};
        }
    }

    c.access->memorySizeMb = 0;
    c.access->firmwareLoaded = 0;
    criticalLines = 0;
    const bool succeeded = c.access->dispatchCommand(text);
    // A failed command says so in a critical line; a command that succeeded logs none, except
    // that an erase runs after its memory-size query whatever that query's outcome.
    const QStringList tokens = ConsoleTestAccess::splitTokens(text);
    const bool erase = !tokens.isEmpty() && (tokens.first() == QLatin1String("erase-region") ||
                                             tokens.first() == QLatin1String("erase-chip"));
    if (succeeded)
        FUZZ_CHECK(criticalLines == 0 || erase);
    else
        FUZZ_CHECK(criticalLines > 0);

    // Files a command wrote are not kept from one input to the next.
    if (tokens.size() > 4 && tokens.first() == QLatin1String("read-memory")) {
        QDir folder(c.folder->path());
        for (const QString& entry : folder.entryList(QDir::Files | QDir::Hidden | QDir::System))
            folder.remove(entry);
    }
    return 0;
}
