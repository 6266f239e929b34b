// The settings dialog of the link, run modally and driven through its own controls.
#include "link/serialportsettingdialog.h"
#include "linkedwindow.h"
#include "modalwatcher.h"
#include "protocol/tables.h"
#include "protocol/uartdata.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QtTest>

#include <functional>

using testsupport::ModalWatcher;

namespace {

QStringList entries(const QComboBox *box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

template <class T> T *control(QDialog *dialog, const char *name)
{
    return dialog->findChild<T *>(QString::fromLatin1(name));
}

// Runs a fresh dialog modally; `handler` gets it once it is up. Returns exec()'s result.
int runDialog(const std::function<void(QDialog *)> &handler)
{
    ModalWatcher watcher;
    watcher.setDialogHandler(handler);
    SerialportSettingDialog dialog;
    return dialog.exec();
}

} // namespace

class tst_LinkDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void form();
    void choices_data();
    void choices();
    void cancelKeepsLinkSettingsButResetsProbe();
    void typedPathBecomesPortName();
    void portListHoldsOnlyOpenablePorts();
};

void tst_LinkDialog::init()
{
    testsupport::LinkedWindow::resetUartData();
}

void tst_LinkDialog::form()
{
    QString title;
    QStringList baud, data, parity, stop;
    int baudCurrent = -1, parityCurrent = -1;
    const int result = runDialog([&](QDialog *dialog) {
        title = dialog->windowTitle();
        auto *rate = control<QComboBox>(dialog, "comboBoxBaud");
        auto *par = control<QComboBox>(dialog, "comboBoxParity");
        baud = entries(rate);
        data = entries(control<QComboBox>(dialog, "comboBoxData"));
        parity = entries(par);
        stop = entries(control<QComboBox>(dialog, "comboBoxStop"));
        baudCurrent = rate->currentIndex();
        parityCurrent = par->currentIndex();
        control<QPushButton>(dialog, "pushButtonCancel")->click();
    });
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(title, QStringLiteral("Serial port"));
    QCOMPARE(baud, QStringList({"AUTO", "1200", "2400", "4800", "9600", "19200", "115200"}));
    QCOMPARE(baudCurrent, 0);
    QCOMPARE(data, QStringList({"8"}));
    QCOMPARE(parity, QStringList({"NO", "ODD", "EVEN"}));
    QCOMPARE(parityCurrent, 0);
    QCOMPARE(stop, QStringList({"1"}));
}

void tst_LinkDialog::choices_data()
{
    QTest::addColumn<QString>("baud");
    QTest::addColumn<QString>("parity");
    QTest::addColumn<bool>("renameEntries");
    QTest::addColumn<int>("expectedRate");
    QTest::addColumn<int>("expectedParity");

    QTest::newRow("AUTO stores 0") << "AUTO"
                                   << "NO" << false << 0 << 0;
    for (const int speed : protocol::baudCodeSpeeds) {
        const QByteArray name = QByteArray::number(speed) + " stores its speed";
        QTest::newRow(name.constData()) << QString::number(speed) << "NO" << false << speed << 0;
    }
    QTest::newRow("ODD stores 1") << "115200"
                                  << "ODD" << false << 115200 << 1;
    QTest::newRow("EVEN stores 2") << "9600"
                                   << "EVEN" << false << 9600 << 2;
    // A catalogue may render the entries differently: the choice is the entry, not its text.
    QTest::newRow("renamed entries, 9600") << "9600"
                                           << "NO" << true << 9600 << 0;
    QTest::newRow("renamed entries, AUTO") << "AUTO"
                                           << "NO" << true << 0 << 0;
}

void tst_LinkDialog::choices()
{
    QFETCH(QString, baud);
    QFETCH(QString, parity);
    QFETCH(bool, renameEntries);
    QFETCH(int, expectedRate);
    QFETCH(int, expectedParity);

    const QString port = QStringLiteral("/dev/ttyQuorvelTest");
    const int result = runDialog([&](QDialog *dialog) {
        auto *name = control<QComboBox>(dialog, "comboBoxName");
        auto *rate = control<QComboBox>(dialog, "comboBoxBaud");
        auto *par = control<QComboBox>(dialog, "comboBoxParity");
        name->setEditText(port);
        rate->setCurrentIndex(rate->findText(baud));
        par->setCurrentIndex(par->findText(parity));
        if (renameEntries) {
            // "AUTO" made to look like a speed, the speeds made unreadable as numbers.
            rate->setItemText(0, QStringLiteral("115200"));
            for (int i = 1; i < rate->count(); ++i)
                rate->setItemText(i, QStringLiteral("speed %1").arg(i));
        }
        control<QPushButton>(dialog, "pushButtonOK")->click();
    });

    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(UartData.PortName, port);
    QCOMPARE(UartData.BaudRate, expectedRate);
    QCOMPARE(UartData.Parity, expectedParity);
    QCOMPARE(UartData.DataBits, 8);
    QCOMPARE(UartData.StopBits, 1);
}

void tst_LinkDialog::cancelKeepsLinkSettingsButResetsProbe()
{
    UartData.PortName = QStringLiteral("/dev/ttyPrevious");
    UartData.BaudRate = 4800;
    UartData.Parity = 1;
    UartData.BaudIndex = 4;
    UartData.BaudCount = 6;
    std::fill(std::begin(UartData.BaudTable), std::end(UartData.BaudTable), 0);

    const int result = runDialog([](QDialog *dialog) {
        control<QComboBox>(dialog, "comboBoxName")->setEditText(QStringLiteral("/dev/ttyOther"));
        control<QComboBox>(dialog, "comboBoxBaud")->setCurrentIndex(6);
        control<QComboBox>(dialog, "comboBoxParity")->setCurrentIndex(2);
        control<QPushButton>(dialog, "pushButtonCancel")->click();
    });

    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(UartData.PortName, QStringLiteral("/dev/ttyPrevious"));
    QCOMPARE(UartData.BaudRate, 4800);
    QCOMPARE(UartData.Parity, 1);
    QCOMPARE(int(UartData.BaudIndex), 0);
    QCOMPARE(int(UartData.BaudCount), 6);
    for (std::size_t i = 0; i < protocol::probeSpeeds.size(); ++i)
        QCOMPARE(UartData.BaudTable[i], protocol::probeSpeeds[i]);
}

void tst_LinkDialog::typedPathBecomesPortName()
{
    // Pseudo-terminals and /dev/serial/by-id links are not in the system's list.
    const QString path = QStringLiteral("/dev/serial/by-id/usb-Quorvel_Test-if00-port0");
    int listedBefore = -1, listedAfter = -1;
    const int result = runDialog([&](QDialog *dialog) {
        auto *name = control<QComboBox>(dialog, "comboBoxName");
        listedBefore = name->count();
        QLineEdit *edit = name->lineEdit();
        edit->clear();
        QTest::keyClicks(edit, path);
        // Return in the field confirms the dialog like OK; the path is not added to the list.
        QTest::keyClick(edit, Qt::Key_Return);
        listedAfter = name->count();
        if (dialog->isVisible())
            control<QPushButton>(dialog, "pushButtonOK")->click();
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(UartData.PortName, path);
    QCOMPARE(listedAfter, listedBefore);
}

void tst_LinkDialog::portListHoldsOnlyOpenablePorts()
{
    // What the system lists, narrowed to what opens right now, in the system's order.
    QStringList openable;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        QSerialPort port(info);
        if (port.open(QIODevice::ReadWrite))
            openable << info.portName();
    }

    QStringList listed;
    runDialog([&](QDialog *dialog) {
        listed = entries(control<QComboBox>(dialog, "comboBoxName"));
        control<QPushButton>(dialog, "pushButtonCancel")->click();
    });
    QCOMPARE(listed, openable);

    if (openable.isEmpty())
        QSKIP("no serial port of this machine opens; the busy-port case cannot be shown");
    // A port held by someone else is left out.
    QSerialPort busy(openable.first());
    QVERIFY(busy.open(QIODevice::ReadWrite));
    runDialog([&](QDialog *dialog) {
        listed = entries(control<QComboBox>(dialog, "comboBoxName"));
        control<QPushButton>(dialog, "pushButtonCancel")->click();
    });
    QCOMPARE(listed, openable.mid(1));
}

QTEST_MAIN(tst_LinkDialog)
#include "tst_linkdialog.moc"
