#include "modalwatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>

namespace testsupport {

ModalWatcher::ModalWatcher(QObject *parent) : QObject(parent)
{
    m_timer.setInterval(5);
    connect(&m_timer, &QTimer::timeout, this, &ModalWatcher::poll);
    m_timer.start();
}

QStringList ModalWatcher::texts() const
{
    QStringList result;
    for (const ShownMessage &m : m_messages)
        result << m.text;
    return result;
}

void ModalWatcher::poll()
{
    const auto widgets = QApplication::topLevelWidgets();
    for (QWidget *w : widgets) {
        if (!w->isVisible())
            continue;
        if (auto *box = qobject_cast<QMessageBox *>(w)) {
            if (!m_seen.contains(box)) {
                m_seen << box;
                connect(box, &QObject::destroyed, this, [this, box] { m_seen.removeAll(box); });
                m_messages << ShownMessage{box->windowTitle(), box->text()};
            }
            if (m_autoClose) {
                if (QAbstractButton *ok = box->button(QMessageBox::Ok))
                    ok->click();
                else
                    box->accept();
            }
        } else if (auto *dialog = qobject_cast<QDialog *>(w)) {
            if (m_dialogHandler && dialog->isModal() && !m_seen.contains(dialog)) {
                m_seen << dialog;
                connect(dialog, &QObject::destroyed, this,
                        [this, dialog] { m_seen.removeAll(dialog); });
                m_dialogHandler(dialog);
            }
        }
    }
}

std::function<void(QDialog *)> acceptLinkDialog(const QString &portName, const QString &baud)
{
    return [portName, baud](QDialog *dialog) {
        auto *name = dialog->findChild<QComboBox *>(QStringLiteral("comboBoxName"));
        auto *rate = dialog->findChild<QComboBox *>(QStringLiteral("comboBoxBaud"));
        auto *ok = dialog->findChild<QPushButton *>(QStringLiteral("pushButtonOK"));
        if (!name || !rate || !ok) {
            dialog->reject();
            return;
        }
        name->setEditText(portName);
        rate->setCurrentIndex(rate->findText(baud));
        ok->click();
    };
}

std::function<void(QDialog *)> cancelLinkDialog()
{
    return [](QDialog *dialog) {
        if (auto *cancel = dialog->findChild<QPushButton *>(QStringLiteral("pushButtonCancel")))
            cancel->click();
        else
            dialog->reject();
    };
}

} // namespace testsupport
