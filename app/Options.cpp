#include "app/Options.h"

#include <QFile>
#include <cstdio>
#include <cstdlib>

namespace RomCmd {

#ifdef Q_OS_WIN
namespace {

// Qt puts these texts in a message box when the process has neither a console nor standard
// handles given at its start (wine with the output in a pipe); they go to the streams instead.
void printParserTexts(QCommandLineParser& parser, const QStringList& arguments) {
    QString text;
    FILE* stream = stdout;
    int status = EXIT_SUCCESS;
    if (!parser.parse(arguments)) {
        text = QCoreApplication::applicationName() + ": " + parser.errorText() + '\n';
        stream = stderr;
        status = EXIT_FAILURE;
    } else if (parser.isSet(QStringLiteral("version"))) {
        text = QCoreApplication::applicationName() + ' ' + QCoreApplication::applicationVersion() +
               '\n';
    } else if (parser.isSet(QStringLiteral("help"))) {
        text = parser.helpText();
    } else {
        return;
    }
    std::fputs(qPrintable(text), stream);
    std::fflush(stream);
    std::exit(status);
}

}  // namespace
#endif

void addOptions(QCommandLineParser& parser) {
    parser.addVersionOption();
    parser.addHelpOption();
    parser.addOption({{"c", "console"}, "console mode enable(optional)"});
    parser.addOption({{"p", "port"},
                      "<uart_port>[,<baud_rate>], default baudrate is:115200. Uart port can be "
                      "empty if only one device connect",
                      "p"});
    parser.addOption({{"u", "usb"},
                      "[<vid>,]<pid> or <device path>, default VID is 0x5E3A, PID is defined by "
                      "SoC, device path is USB device path. The value can be empty if only one "
                      "device connect.",
                      "u"});
    parser.addOption({{"r", "run"}, "<command> command which you want to run", "command"});
    parser.addOption({{"t", "timeout"},
                      "set timeout for commmand, unit is millisecond, default value is "
                      "10000(10s).",
                      "p"});
    parser.addOption(
        {{"f", "firmware"},
         "<soc series name>,<0,1> or <firmware path>, load boot loader firmware before running "
         "command. Soc parameter is the same as 'load-blfw' command. The tool will use custom "
         "firmware path if you use '<firmware path>' parameter. Note that 'load-image' command "
         "will be used to load firmware, so this command could not be used when firmware "
         "loaded success and the device will be reset automatically.",
         "f"});
    parser.addOption({{"i", "image"},
                      "use image editor mode, if you use this option, all the parameter except "
                      "'r' will be ignored. You need use 'create-image <json_file_path>' command "
                      "to create new image. Please refer the typical image edit sequences."});
    parser.addOption({{"l", "list"},
                      "list the serial ports and the USB-HID devices (vendor 0x5E3A, or the IDs of "
                      "'-u') with their VID:PID, serial number and USB port location, then exit. "
                      "'-u port:<location>' or '-u serial:<serial number>' selects one of them."});
    parser.addOption({"record",
                      "append one JSON line describing this run (device, commands, results, "
                      "files with their SHA-256) to <file>, created with mode 0640; several "
                      "runs may share one file.",
                      "file"});
}

bool setupOptions(QCoreApplication& app, QCommandLineParser& parser) {
    QFile description(QCoreApplication::applicationDirPath() + "/console_instruction");
    if (description.open(QIODevice::ReadOnly)) {
        parser.setApplicationDescription(QString::fromUtf8(description.readAll()));
    }
    description.close();

    addOptions(parser);
    const QStringList arguments = preprocessArguments(app.arguments());
#ifdef Q_OS_WIN
    printParserTexts(parser, arguments);
#endif
    parser.process(arguments);
    return true;
}

QStringList preprocessArguments(QStringList arguments) {
    for (int i = 0; i + 1 < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if ((argument == QLatin1String("-p") || argument == QLatin1String("-u")) &&
            arguments.at(i + 1).startsWith(QLatin1Char('-'))) {
            arguments.insert(i + 1, QString());
            break;
        }
    }
    return arguments;
}

}  // namespace RomCmd
