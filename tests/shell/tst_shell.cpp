// The application shell: build stamp, title and the translation catalogue.
#include "app/buildstamp.h"
#include "app/catalogue.h"
#include "app/widget.h"

#include <QDir>
#include <QGroupBox>
#include <QMap>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

class tst_Shell : public QObject
{
    Q_OBJECT

private slots:
    void buildStamp_data();
    void buildStamp();
    void titleCarriesBuildStamp();
    void catalogue_data();
    void catalogue();
    void installedCatalogue_data();
    void installedCatalogue();
};

void tst_Shell::buildStamp_data()
{
    QTest::addColumn<QString>("date"); // as __DATE__ and __TIME__ give them
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("suffix");
    const auto row = [](const char *date, const char *time, const char *suffix) {
        QTest::newRow(date) << QString(date) << QString(time) << QString(suffix);
    };
    row("Dec 20 2021", "19:52:40", " V2021.12.20.1952");
    row("Jan  5 2021", "07:03:00", " V2021.01.05.0703"); // two spaces before a day below 10
    row("May  9 2024", "00:05:59", " V2024.05.09.0005"); // "May" is short and whole name
}

void tst_Shell::buildStamp()
{
    QFETCH(QString, date);
    QFETCH(QString, time);
    QFETCH(QString, suffix);
    // The month names are the compiler's, never the user's ("Dez", "Mär", ...).
    for (const QLocale &locale : {QLocale::c(), QLocale(QLocale::German, QLocale::Germany)}) {
        const QLocale saved;
        QLocale::setDefault(locale);
        const QString got = makeVersionSuffix(parseBuildDate(date.toLatin1().constData()),
                                              parseBuildTime(time.toLatin1().constData()));
        QLocale::setDefault(saved);
        QCOMPARE(got, suffix);
    }
}

void tst_Shell::titleCarriesBuildStamp()
{
    QVERIFY(BuildDate.isValid() && BuildTime.isValid());
    QCOMPARE(Widget().windowTitle(),
             QStringLiteral("Quorvel   V") + BuildDate.toString(QStringLiteral("yyyy.MM.dd")) +
                 QLatin1Char('.') + BuildTime.toString(QStringLiteral("hhmm")));
}

void tst_Shell::catalogue_data()
{
    QTest::addColumn<bool>("present"); // a "Qm" folder with the catalogue in the working folder
    QTest::newRow("absent: English") << false;
    QTest::newRow("present: both contexts translated") << true;
}

void tst_Shell::catalogue()
{
    QFETCH(bool, present);
    QTemporaryDir dir;
    if (present) {
        const QString built = qEnvironmentVariable("QUORVEL_QM_DIR") + QLatin1String("/Chinese.qm");
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Qm")));
        QVERIFY2(QFile::copy(built, dir.path() + QLatin1String("/Qm/Chinese.qm")),
                 qPrintable(built));
    }
    const QString cwd = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    QTranslator translator;
    installCatalogue(*QCoreApplication::instance(), translator);
    QDir::setCurrent(cwd);
    QCOMPARE(translator.isEmpty(), !present);

    Widget w;
    const QString appName = QCoreApplication::translate("Widget", "Quorvel");
    const QString portTitle = QCoreApplication::translate("SerialportSettingDialog", "Serial port");
    QCOMPARE(appName != QLatin1String("Quorvel"), present);
    QCOMPARE(portTitle != QLatin1String("Serial port"), present);
    QVERIFY(w.windowTitle().startsWith(appName + QLatin1String("   V")));
    QCOMPARE(w.findChild<QGroupBox *>(QStringLiteral("groupBox_2"))->title() !=
                 QLatin1String("Device"),
             present);
    QCOMPARE(w.findChild<QGroupBox *>(QStringLiteral("groupBox_4"))->title() ==
                 QLatin1String("Record "),
             !present);
    QCoreApplication::removeTranslator(&translator);
}

void tst_Shell::installedCatalogue_data()
{
    // Where a Chinese.qm is: below the working directory (Qm), beside the program (bin), in the
    // installation's data folder (share); the user's languages; the catalogue chosen.
    QTest::addColumn<QString>("present");
    QTest::addColumn<QString>("languages");
    QTest::addColumn<QString>("loaded");
    const auto row = [](const char *name, const char *present, const char *languages,
                        const char *loaded) {
        QTest::newRow(name) << QString(present) << QString(languages) << QString(loaded);
    };
    row("working dir, English user", "Qm bin share", "en-US", "Qm");
    row("installed, English user", "bin share", "en-US zh-CN", "");
    row("beside the program", "bin share", "zh-CN", "bin");
    row("data folder", "share", "zh-Hans-CN zh", "share");
    row("German, then Chinese", "share", "de-DE zh-TW", "share");
    row("neither", "share", "zha de", "");
    row("none installed", "", "zh-CN", "");
}

void tst_Shell::installedCatalogue()
{
    QFETCH(QString, present);
    QFETCH(QString, languages);
    QFETCH(QString, loaded);
    QTemporaryDir root;
    const QDir dir(root.path());
    const QMap<QString, QString> folders{
        {"Qm", "work/Qm"}, {"bin", "bin/Qm"}, {"share", "share/quorvel/translations"}};
    for (auto folder = folders.cbegin(); folder != folders.cend(); ++folder) {
        QVERIFY(dir.mkpath(folder.value()));
        QFile file(dir.filePath(folder.value() + "/Chinese.qm"));
        QVERIFY(!present.contains(folder.key()) || file.open(QIODevice::WriteOnly));
    }
    const QString path = findCatalogue(dir.filePath("work"), dir.filePath("bin"),
                                       "../share/quorvel/translations", languages.split(' '));
    QCOMPARE(path,
             loaded.isEmpty() ? QString() : dir.filePath(folders.value(loaded) + "/Chinese.qm"));
}

QTEST_MAIN(tst_Shell)
#include "tst_shell.moc"
