// Reading and writing the module's bus address and line speed, end to end against the
// simulated module on a pseudo-terminal.
#include "opstest.h"

#include "protocol/crc.h"
#include "protocol/uartdata.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextBrowser>

using namespace opstest;

namespace {
const QString communicationError = QStringLiteral("Communication error!");
const QByteArray readAddress = bytes("0003010000018427");
} // namespace

class tst_AddressBaud : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void readAddressFillsField();
    void writeAddress_data();
    void writeAddress();
    void writeAddressRefused_data();
    void writeAddressRefused();
    void baudCodes();
    void baudChangeAnswered();
    void baudChangeUnanswered();

private:
    QLineEdit *addressField() const { return m_lw->child<QLineEdit>("lineEditAddress"); }
    QComboBox *baudBox() const { return m_lw->child<QComboBox>("comboBoxBaudRate"); }
    // Starts the poll and waits until a reply has reached the labels.
    void expectPollsAnswered();

    std::unique_ptr<testsupport::LinkedWindow> m_lw;
};

void tst_AddressBaud::init()
{
    m_lw = linkedWindow();
    QVERIFY2(m_lw, "the window did not link to the simulated module");
    m_lw->sim()->module().setFrozen(true);
}

void tst_AddressBaud::cleanup()
{
    m_lw.reset();
}

void tst_AddressBaud::expectPollsAnswered()
{
    auto *label = m_lw->child<QLabel>("labelTemperature");
    m_lw->sim()->module().setTemperature(-123);
    m_lw->child<QPushButton>("pushButtonRead")->click();
    QTRY_COMPARE_WITH_TIMEOUT(label->text(), QStringLiteral("Temperature:-12.3\u2103"), patience);
}

void tst_AddressBaud::readAddressFillsField()
{
    m_lw->sim()->module().setAddress(12);
    addressField()->setText(QStringLiteral("99"));
    click(*m_lw, "pushButtonAddressRead");
    QTRY_COMPARE_WITH_TIMEOUT(addressField()->text(), QStringLiteral("12"), patience);
    QCOMPARE(m_lw->sim()->requests(), QList<QByteArray>{readAddress});
    QVERIFY(m_lw->child<QTextBrowser>("textBrowser")
                ->toPlainText()
                .contains(QStringLiteral("->TX  0003010000018427")));
    QTest::qWait(800); // the deadline has passed, answered
    QCOMPARE(m_lw->watcher()->count(), 0);
}

void tst_AddressBaud::writeAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("1") << "1" << bytes("0006010000014827");
    QTest::newRow("5") << "5" << bytes("00060100000549e4");
    QTest::newRow("247") << "247" << bytes("0006010000f7c861");
}

void tst_AddressBaud::writeAddress()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, request);
    const quint8 addressBefore = UartData.Address;
    addressField()->setText(text);
    click(*m_lw, "pushButtonAddress");
    QTRY_COMPARE_WITH_TIMEOUT(m_lw->sim()->requests(), QList<QByteArray>{request}, patience);
    QCOMPARE(int(m_lw->sim()->module().address()), text.toInt());
    QCOMPARE(UartData.Address, addressBefore);
    QTest::qWait(800); // the echo met the deadline
    QCOMPARE(m_lw->watcher()->count(), 0);

    // The poll takes its address from the same field, so it reaches the module at once.
    m_lw->sim()->clearLog();
    expectPollsAnswered();
    QCOMPARE(int(quint8(m_lw->sim()->requests().first().at(0))), text.toInt());
}

void tst_AddressBaud::writeAddressRefused_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    const QString range = QStringLiteral("The address is between 1 and 247!");
    QTest::newRow("empty") << "" << QStringLiteral("The address is empty!");
    QTest::newRow("0") << "0" << range;
    QTest::newRow("248") << "248" << range;
    QTest::newRow("x") << "x" << range;
}

void tst_AddressBaud::writeAddressRefused()
{
    QFETCH(QString, text);
    QFETCH(QString, message);
    // A silent module and an unanswered request leave the reply flag clear, so a reply
    // deadline armed by the refused command would show a second box.
    m_lw->sim()->faults().silent = true;
    click(*m_lw, "pushButtonReadSN");
    QTRY_COMPARE_WITH_TIMEOUT(m_lw->watcher()->texts(), QStringList{communicationError}, patience);
    m_lw->sim()->clearLog();

    addressField()->setText(text);
    click(*m_lw, "pushButtonAddress");
    QCOMPARE(m_lw->watcher()->texts(), (QStringList{communicationError, message}));
    QCOMPARE(m_lw->watcher()->messages().last().title, QStringLiteral("Error"));
    QTest::qWait(1500);
    QCOMPARE(m_lw->watcher()->count(), 2);
    QCOMPARE(requestsUpToMarker(*m_lw), QList<QByteArray>{readAddress});
    QCOMPARE(int(m_lw->sim()->module().address()), 1);
}

void tst_AddressBaud::baudCodes()
{
    // Silent, so that the module keeps its speed and hears every request.
    m_lw->sim()->faults().silent = true;
    const QList<int> speeds{1200, 2400, 4800, 9600, 19200, 115200};
    QCOMPARE(baudBox()->count(), speeds.size());
    for (int index = 0; index < speeds.size(); ++index) {
        m_lw->sim()->clearLog();
        baudBox()->setCurrentIndex(index);
        click(*m_lw, "pushButtonBaudRate");
        QCOMPARE(UartData.BaudRate, speeds.at(index));
        QCOMPARE(UartData.ReopenFlag, true);
        QTRY_COMPARE_WITH_TIMEOUT(m_lw->sim()->requests().size(), 1, patience);
        QByteArray expected = bytes("0006010100");
        expected.append(char(index + 1));
        protocol::appendCrc(expected);
        QCOMPARE(m_lw->sim()->requests().first(), expected);
        QTRY_COMPARE_WITH_TIMEOUT(m_lw->watcher()->count(), index + 1, patience);
        QCOMPARE(UartData.ReopenFlag, false);
    }
    QVERIFY(m_lw->child<QTextBrowser>("textBrowser")
                ->toPlainText()
                .contains(QStringLiteral("->TX  000601010004d9e4")));
    QVERIFY(m_lw->child<QTextBrowser>("textBrowser")
                ->toPlainText()
                .contains(QStringLiteral("->TX  0006010100065825")));
}

void tst_AddressBaud::baudChangeAnswered()
{
    QCOMPARE(port(*m_lw)->baudRate(), 9600);
    baudBox()->setCurrentIndex(baudBox()->findText(QStringLiteral("115200")));
    click(*m_lw, "pushButtonBaudRate");
    // Taken over before any reply.
    QCOMPARE(UartData.BaudRate, 115200);

    QTRY_COMPARE_WITH_TIMEOUT(m_lw->sim()->module().lineSpeed(), 115200, patience);
    QCOMPARE(m_lw->sim()->requests(), QList<QByteArray>{bytes("0006010100065825")});
    QTRY_COMPARE_WITH_TIMEOUT(port(*m_lw)->baudRate(), 115200, patience);
    QVERIFY(port(*m_lw)->isOpen());
    QCOMPARE(UartData.ReopenFlag, false);
    // Completing the change sends no address read of its own.
    QTest::qWait(800);
    QCOMPARE(m_lw->sim()->requests().size(), 1);

    // The module hears only what comes at its new speed.
    expectPollsAnswered();
    QCOMPARE(m_lw->watcher()->count(), 0);
}

void tst_AddressBaud::baudChangeUnanswered()
{
    m_lw->sim()->faults().silent = true;
    baudBox()->setCurrentIndex(baudBox()->findText(QStringLiteral("19200")));
    click(*m_lw, "pushButtonBaudRate");
    QCOMPARE(UartData.BaudRate, 19200);
    QTRY_COMPARE_WITH_TIMEOUT(m_lw->watcher()->texts(), QStringList{communicationError}, patience);
    QCOMPARE(m_lw->watcher()->messages().first().title, QStringLiteral("Error"));
    QCOMPARE(UartData.ReopenFlag, false);
    QCOMPARE(m_lw->sim()->requests(), QList<QByteArray>{bytes("0006010100051824")});

    // The port stays at the old speed, where the module still is.
    QCOMPARE(port(*m_lw)->baudRate(), 9600);
    QCOMPARE(UartData.BaudRate, 19200);
    m_lw->sim()->faults().silent = false;
    expectPollsAnswered();
    QCOMPARE(m_lw->watcher()->count(), 1);
}

QTEST_MAIN(tst_AddressBaud)
#include "tst_addressbaud.moc"
