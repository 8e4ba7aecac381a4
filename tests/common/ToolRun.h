#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

namespace RomCmd {
namespace Test {

// Writes `content` to the file `name` in `folder`; returns its path, or an empty text when the
// file could not be written whole.
QString writeFileIn(const QString& folder, const QString& name, const QByteArray& content);

struct ToolResult {
    int exitCode = -1;
    bool finished = false;  // false when the bound ran out and the tool was killed
    QString output;         // standard output and standard error, merged
};

// A private application folder holding a copy of the built tool (with console_instruction,
// tools/ and bl_fw/), so each test gets its own log folder.
class ToolRun {
public:
    ToolRun();
    QString appDir() const { return dir.path(); }
    QString toolPath() const;
    ToolResult run(
        const QStringList& arguments,
        const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
        int timeoutMs = 60000) const;
    // Clear text of today's log file lines, decoded with tarvo_log_decode.
    QString decodedLog() const;

    // For tests that act on the running tool: starts it without waiting for it to end.
    std::unique_ptr<QProcess> start(
        const QStringList& arguments,
        const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) const;

private:
    QTemporaryDir dir;
};

// Collects the process's output into *output until it holds `text`; false when the bound ran
// out or the process ended first.
bool waitForOutput(QProcess& process, const QString& text, int boundMs, QString* output);

}  // namespace Test
}  // namespace RomCmd
