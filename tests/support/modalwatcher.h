#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

class QDialog;

namespace testsupport {

struct ShownMessage
{
    QString title;
    QString text;
};

// Modal message boxes and dialogs run nested event loops, so a test cannot click them after
// the call that opened them. The watcher looks for them from the event loop, records every
// message box it sees and closes it with its OK button; dialogs go to a handler the test sets.
class ModalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit ModalWatcher(QObject *parent = nullptr);

    QList<ShownMessage> messages() const { return m_messages; }
    int count() const { return int(m_messages.size()); }
    void clear() { m_messages.clear(); }
    // Texts of the messages seen so far, in order.
    QStringList texts() const;

    // Called with every visible modal QDialog that is not a QMessageBox; the handler fills it
    // in and accepts or rejects it.
    void setDialogHandler(std::function<void(QDialog *)> handler) { m_dialogHandler = handler; }
    // Leave message boxes open (for screenshots, or to test what happens while one is open).
    void setAutoClose(bool autoClose) { m_autoClose = autoClose; }

private:
    void poll();

    QTimer m_timer;
    QList<ShownMessage> m_messages;
    std::function<void(QDialog *)> m_dialogHandler;
    bool m_autoClose = true;
    QList<const QObject *> m_seen;
};

// Fills in the link settings dialog with a port name and a baud entry text ("AUTO", "9600")
// and presses OK, through its real controls.
std::function<void(QDialog *)> acceptLinkDialog(const QString &portName, const QString &baud);
// Presses Cancel.
std::function<void(QDialog *)> cancelLinkDialog();

} // namespace testsupport
