// The application shell: build stamp, title, the window as it stands after construction, and
// the translation catalogue.
#include "app/buildstamp.h"
#include "app/catalogue.h"
#include "app/widget.h"
#include "protocol/uartdata.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <QTranslator>
#include <QtTest>

class tst_Shell : public QObject
{
    Q_OBJECT

private slots:
    void buildDate_data();
    void buildDate();
    void buildDateIgnoresUserLocale();
    void buildTime();
    void titleCarriesBuildStamp();
    void freshWindow();
    void recordGroupStartsRecordingAfterSetup();
    void uartDataStartsEmpty();
    void catalogueMissingKeepsEnglish();
    void catalogueTranslatesBothContexts();
};

void tst_Shell::buildDate_data()
{
    QTest::addColumn<QString>("compilerDate");
    QTest::addColumn<QDate>("expected");
    QTest::newRow("two-digit day") << "Jan 20 2021" << QDate(2021, 1, 20);
    QTest::newRow("day below 10, two spaces") << "Jan  5 2021" << QDate(2021, 1, 5);
    QTest::newRow("first of month") << "Sep  1 2026" << QDate(2026, 9, 1);
    QTest::newRow("december") << "Dec 31 1999" << QDate(1999, 12, 31);
    QTest::newRow("may, short name is the whole name") << "May  9 2024" << QDate(2024, 5, 9);
}

void tst_Shell::buildDate()
{
    QFETCH(QString, compilerDate);
    QFETCH(QDate, expected);
    QCOMPARE(parseBuildDate(compilerDate.toLatin1().constData()), expected);
}

void tst_Shell::buildDateIgnoresUserLocale()
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); // "Dez", "Mär", ...
    const QDate date = parseBuildDate("Dec  3 2025");
    QLocale::setDefault(saved);
    QCOMPARE(date, QDate(2025, 12, 3));
}

void tst_Shell::buildTime()
{
    QCOMPARE(parseBuildTime("19:52:40"), QTime(19, 52, 40));
    QCOMPARE(parseBuildTime("00:05:09"), QTime(0, 5, 9));
    QCOMPARE(makeVersionSuffix(QDate(2021, 1, 5), QTime(19, 52, 40)),
             QStringLiteral(" V2021.01.05.1952"));
    QCOMPARE(makeVersionSuffix(QDate(2021, 11, 20), QTime(7, 3, 0)),
             QStringLiteral(" V2021.11.20.0703"));
}

void tst_Shell::titleCarriesBuildStamp()
{
    QVERIFY(BuildDate.isValid());
    QVERIFY(BuildTime.isValid());
    Widget w;
    const QString expected = QStringLiteral("Quorvel   V") +
                             BuildDate.toString(QStringLiteral("yyyy.MM.dd")) + QLatin1Char('.') +
                             BuildTime.toString(QStringLiteral("hhmm"));
    QCOMPARE(w.windowTitle(), expected);
}

void tst_Shell::freshWindow()
{
    Widget w;
    QCOMPARE(w.size(), QSize(874, 628));
    QCOMPARE(w.font().family(), QStringLiteral("Arial"));

    auto combo = [&](const char *name) { return w.findChild<QComboBox *>(QLatin1String(name)); };
    QCOMPARE(combo("comboBoxBaudRate")->currentText(), QStringLiteral("9600"));
    QCOMPARE(combo("comboBoxType")->currentText(), QStringLiteral("SHT2X"));
    QCOMPARE(combo("recmodecomboBox")->currentIndex(), 0);
    QCOMPARE(combo("sample_ratecomboBox")->currentText(), QStringLiteral("1S"));
    QCOMPARE(combo("sample_ratecomboBox")->count(), 16);
    QCOMPARE(combo("sample_ratecomboBox")->itemText(15), QStringLiteral("24h"));

    QVERIFY(w.findChild<QLineEdit *>(QStringLiteral("lineEditAddress"))->text().isEmpty());
    QVERIFY(w.findChild<QLineEdit *>(QStringLiteral("lineEditSN"))->text().isEmpty());
    QVERIFY(w.findChild<QTextBrowser *>(QStringLiteral("textBrowser"))->toPlainText().isEmpty());
    QCOMPARE(w.findChild<QGroupBox *>(QStringLiteral("groupBox_4"))->title(),
             QStringLiteral("Record "));
    QCOMPARE(w.findChild<QPushButton *>(QStringLiteral("pushButtonRead"))->text(),
             QStringLiteral("Read"));
    QCOMPARE(w.findChild<QLabel *>(QStringLiteral("labelWetBulbTemp"))->text(),
             QStringLiteral("WetBulbTemp:"));
    QVERIFY(w.findChild<QLabel *>(QStringLiteral("label"))
                ->text()
                .contains(QStringLiteral(
                    "<span style=\" font-weight:600; color:#ff0000;\">Note: You need")));

    // No timer runs and the port stays closed until the operator presses Link.
    const auto timers = w.findChildren<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
    QCOMPARE(timers.size(), 6);
    for (const QTimer *t : timers) {
        QVERIFY(!t->isActive());
        QVERIFY(!t->isSingleShot());
    }
    const auto ports = w.findChildren<QSerialPort *>();
    QCOMPARE(ports.size(), 1);
    QVERIFY(!ports.first()->isOpen());

    auto *start = w.findChild<QDateTimeEdit *>(QStringLiteral("dateTimeEditstarttime"));
    QCOMPARE(start->displayFormat(), QStringLiteral("yyyy/MM/dd hh:mm:ss"));
}

void tst_Shell::recordGroupStartsRecordingAfterSetup()
{
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    Widget w;
    const qint64 after = QDateTime::currentSecsSinceEpoch();
    QVERIFY(w.findChild<QRadioButton *>(QStringLiteral("radioButtonRecord"))->isChecked());
    QVERIFY(!w.findChild<QRadioButton *>(QStringLiteral("radioButtonRealmonitoring"))->isChecked());
    QVERIFY(w.findChild<QComboBox *>(QStringLiteral("recmodecomboBox"))->isEnabled());
    QVERIFY(w.findChild<QComboBox *>(QStringLiteral("sample_ratecomboBox"))->isEnabled());
    auto *start = w.findChild<QDateTimeEdit *>(QStringLiteral("dateTimeEditstarttime"));
    QVERIFY(!start->isEnabled());
    const QDateTime startTime = start->dateTime();
    QCOMPARE(startTime.time().msec(), 0);
    QVERIFY(startTime.toSecsSinceEpoch() >= before + 300);
    QVERIFY(startTime.toSecsSinceEpoch() <= after + 300);
}

void tst_Shell::uartDataStartsEmpty()
{
    // Nothing of the shell touches the record: what a fresh process holds is still here.
    QCOMPARE(UartData.BaudRate, 0);
    QCOMPARE(int(UartData.BaudCount), 0);
    QCOMPARE(int(UartData.BaudIndex), 0);
    QVERIFY(!UartData.ResponseFlag);
    QVERIFY(!UartData.SettingFlag);
    QVERIFY(!UartData.ReopenFlag);
    QVERIFY(UartData.PortName.isEmpty());
    QVERIFY(UartData.RxBuffer.isEmpty());
    QCOMPARE(UartData.Temperature, qint16(0));
}

void tst_Shell::catalogueMissingKeepsEnglish()
{
    QTemporaryDir empty;
    QVERIFY(empty.isValid());
    const QString cwd = QDir::currentPath();
    QVERIFY(QDir::setCurrent(empty.path()));
    QTranslator translator;
    installCatalogue(*QCoreApplication::instance(), translator);
    QDir::setCurrent(cwd);

    QVERIFY(translator.isEmpty());
    Widget w;
    QVERIFY(w.windowTitle().startsWith(QStringLiteral("Quorvel   V")));
    QCOMPARE(w.findChild<QGroupBox *>(QStringLiteral("groupBox_2"))->title(),
             QStringLiteral("Device"));
    QCoreApplication::removeTranslator(&translator);
}

void tst_Shell::catalogueTranslatesBothContexts()
{
    const QString built = qEnvironmentVariable("QUORVEL_QM_DIR") + QLatin1String("/Chinese.qm");
    QVERIFY2(QFile::exists(built), qPrintable(built));
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Qm")));
    QVERIFY(QFile::copy(built, dir.path() + QLatin1String("/Qm/Chinese.qm")));

    const QString cwd = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    QTranslator translator;
    installCatalogue(*QCoreApplication::instance(), translator);
    QDir::setCurrent(cwd);
    QVERIFY(!translator.isEmpty());

    Widget w;
    const QString appName = QCoreApplication::translate("Widget", "Quorvel");
    QVERIFY(appName != QLatin1String("Quorvel"));
    QVERIFY(w.windowTitle().startsWith(appName + QLatin1String("   V")));
    QVERIFY(w.findChild<QGroupBox *>(QStringLiteral("groupBox_2"))->title() !=
            QLatin1String("Device"));
    QVERIFY(QCoreApplication::translate("SerialportSettingDialog", "Serial port") !=
            QLatin1String("Serial port"));
    QCoreApplication::removeTranslator(&translator);
}

QTEST_MAIN(tst_Shell)
#include "tst_shell.moc"
