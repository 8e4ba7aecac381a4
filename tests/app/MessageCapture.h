#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QtGlobal>

namespace RomCmd {
namespace Test {

// Records every message emitted while it lives, in place of the installed handler.
class MessageCapture {
public:
    using Message = QPair<QtMsgType, QString>;

    MessageCapture() {
        messages().clear();
        previous = qInstallMessageHandler(&MessageCapture::record);
    }
    ~MessageCapture() { qInstallMessageHandler(previous); }

    static QList<Message>& messages() {
        static QList<Message> list;
        return list;
    }

    // Index of the first message of this type whose text contains the fragment, or -1.
    static int find(QtMsgType type, const QString& fragment) {
        for (int i = 0; i < messages().size(); ++i) {
            if (messages().at(i).first == type && messages().at(i).second.contains(fragment)) {
                return i;
            }
        }
        return -1;
    }
    static bool anyContains(const QString& fragment) {
        for (const Message& message : messages()) {
            if (message.second.contains(fragment)) {
                return true;
            }
        }
        return false;
    }

private:
    static void record(QtMsgType type, const QMessageLogContext&, const QString& text) {
        messages().append({type, text});
    }

    QtMessageHandler previous = nullptr;
};

}  // namespace Test
}  // namespace RomCmd
