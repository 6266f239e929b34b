#include "app/catalogue.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QLoggingCategory>
#include <QTranslator>

Q_LOGGING_CATEGORY(lcCatalogue, "quorvel.catalogue", QtWarningMsg)

namespace {

const QString catalogueName = QStringLiteral("Chinese.qm");

bool isLanguage(const QString &tag, QLatin1String language)
{
    return tag == language || (tag.startsWith(language) && tag.size() > language.size() &&
                               (tag.at(language.size()) == QLatin1Char('-') ||
                                tag.at(language.size()) == QLatin1Char('_')));
}

// The languages come in the user's order of preference; English is what the program speaks
// without a catalogue, so an English before Chinese keeps it English.
bool prefersChinese(const QStringList &uiLanguages)
{
    for (const QString &tag : uiLanguages) {
        if (isLanguage(tag, QLatin1String("zh")))
            return true;
        if (isLanguage(tag, QLatin1String("en")))
            return false;
    }
    return false;
}

} // namespace

QString findCatalogue(const QString &workingDir, const QString &programDir,
                      const QString &dataDirFromProgram, const QStringList &uiLanguages)
{
    const QString beneathWorkingDir = workingDir + QLatin1String("/Qm/") + catalogueName;
    if (QFileInfo::exists(beneathWorkingDir))
        return beneathWorkingDir;
    if (!prefersChinese(uiLanguages))
        return {};
    const QDir program(programDir);
    for (const QString &dir : {QStringLiteral("Qm"), dataDirFromProgram}) {
        const QString installed =
            QDir::cleanPath(program.filePath(dir + QLatin1Char('/') + catalogueName));
        if (QFileInfo::exists(installed))
            return installed;
    }
    return {};
}

void installCatalogue(QCoreApplication &app, QTranslator &translator)
{
    const QString path =
        findCatalogue(QDir::currentPath(), QCoreApplication::applicationDirPath(),
                      QStringLiteral(QUORVEL_DATA_DIR_FROM_PROGRAM "/translations"),
                      QLocale::system().uiLanguages());
    if (path.isEmpty()) {
        qCDebug(lcCatalogue) << "no catalogue: English";
    } else {
        // A catalogue that is there but unreadable leaves the texts English, unreported.
        const bool loaded = translator.load(path);
        qCDebug(lcCatalogue) << "catalogue" << path << (loaded ? "loaded" : "unreadable");
    }
    app.installTranslator(&translator);
}
