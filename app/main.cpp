#include <QCoreApplication>
#include <QDebug>
#include <csignal>
#include <cstdio>

#include "app/LogHandler.h"
#include "app/Options.h"
#include "app/Version.h"
#include "console/ExitStatus.h"
#include "console/RomConsoleMode.h"
#include "romcmd/RteRecords.h"
#include "transport/Interruption.h"

int main(int argc, char* argv[]) {
    // A console reader that goes away (tool | head) must not kill a run half way through a
    // device write; the log file still gets every message. Windows has no such signal.
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
    RomCmd::LogHandler::install();
    RomCmd::Interruption::install();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(RomCmd::kVersion);
    RomCmd::registerMetaTypes();

    QCommandLineParser parser;
    RomCmd::setupOptions(app, parser);
    // No option reads positional arguments: one is a mistake (a forgotten -r), refused in the
    // parser's own way rather than run as a run that does nothing.
    const QStringList unexpected = parser.positionalArguments();
    if (!unexpected.isEmpty()) {
        std::fprintf(stderr, "%s: Unexpected argument: %s\n",
                     qPrintable(QCoreApplication::applicationName()),
                     qPrintable(unexpected.first()));
        return 1;
    }

    // The controller outlives the closing line: its engine closes the device afterwards.
    RomCmd::RomConsoleMode console(parser);
    const int status = console.run();
    // The run stopped quietly at the first check after the signal; this is its one report.
    if (RomCmd::Interruption::requested()) {
        qCritical() << (RomCmd::Interruption::signalNumber() == SIGINT
                            ? "Run interrupted by SIGINT!"
                            : "Run interrupted by SIGTERM!");
    }
    int exitStatus =
        RomCmd::Interruption::requested() ? RomCmd::Interruption::exitStatus() : status;
    // The listing is a table for scripts, not a run: nothing follows it, it has no record.
    if (console.listsDevices()) {
        return exitStatus;
    }
    if (parser.isSet(QStringLiteral("record"))) {
        const QString recordPath = parser.value(QStringLiteral("record"));
        QString error;
        const QByteArray line =
            console.recordLine(exitStatus, RomCmd::LogHandler::instance().openFilePath());
        if (!RomCmd::RunRecord::append(recordPath, line, &error)) {
            qCritical() << "The run record could not be written! File: " << recordPath
                        << " error: " << error;
            if (exitStatus == RomCmd::ExitSuccess) {
                exitStatus = RomCmd::ExitRecordFailed;
            }
        }
    }
    qInfo() << "\r\nTarvo Manufacturing Tool End! Version: "
            << QCoreApplication::applicationVersion() << "\r\n";
    return exitStatus;
}
