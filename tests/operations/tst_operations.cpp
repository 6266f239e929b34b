// The fixture of the module-command tests: a linked window per test and what refusals share.
#include "opstest.h"

#include "protocol/uartdata.h"

#include <QComboBox>
#include <QRadioButton>
#include <QtTest>

using namespace opstest;

void tst_Operations::init()
{
    // Set before the window is built, which presets its start time from the clock.
    m_now = QDateTime::fromSecsSinceEpoch(startUpSeconds);
    appclock::setSource([this] { return m_now; });
    m_lw = std::make_unique<testsupport::LinkedWindow>();
    QVERIFY(m_lw->isReady());
    QVERIFY(m_lw->link());
    m_lw->sim()->module().setFrozen(true);
    m_lw->sim()->clearLog();
    m_lw->watcher()->clear();
}

void tst_Operations::cleanup()
{
    m_lw.reset();
    appclock::setSource({});
}

void tst_Operations::armForRefusal() const
{
    // Past the link's own reply deadline; then a deadline armed without a request would find
    // no reply and show a box.
    QTest::qWait(700);
    UartData.ResponseFlag = false;
}

void tst_Operations::expectRefused(const QStringList &texts, int quietMs) const
{
    QTRY_COMPARE_WITH_TIMEOUT(m_lw->watcher()->texts(), texts, patience);
    QCOMPARE(m_lw->watcher()->messages().first().title, QStringLiteral("Error"));
    QTest::qWait(quietMs);
    QCOMPARE(m_lw->watcher()->count(), int(texts.size()));
    // The line keeps order: once the read-address request sent now has arrived, anything the
    // refused command wrote has arrived too.
    const QByteArray marker = bytes("0003010000018427");
    click("AddressRead");
    QTRY_VERIFY_WITH_TIMEOUT(m_lw->sim()->requests().contains(marker), patience);
    QCOMPARE(m_lw->sim()->requests(), QList<QByteArray>{marker});
}

void tst_Operations::chooseRecording(bool realtimeOnly, int startMode, const QString &rate) const
{
    // The boxes are disabled under "Only Realtime Monitoring", so they are chosen first.
    ui<QRadioButton>("radioButtonRecord")->click();
    ui<QComboBox>("recmodecomboBox")->setCurrentIndex(startMode);
    auto *rates = ui<QComboBox>("sample_ratecomboBox");
    rates->setCurrentIndex(rates->findText(rate));
    if (realtimeOnly)
        ui<QRadioButton>("radioButtonRealmonitoring")->click();
}

QTEST_MAIN(tst_Operations)
