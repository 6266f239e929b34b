#pragma once

#include <QString>
#include <QStringList>

class QCoreApplication;
class QTranslator;

// The catalogue to load, or none. "Qm/Chinese.qm" below the working directory comes first, for
// every user, whenever it is there. Only without it, and for a user whose interface language is
// Chinese, the installed one: beside the program in Qm/, then in the data folder of the
// installation (`dataDirFromProgram`, relative to the program's folder).
QString findCatalogue(const QString &workingDir, const QString &programDir,
                      const QString &dataDirFromProgram, const QStringList &uiLanguages);

// Loads the catalogue findCatalogue() names into `translator` and installs it in `app`
// whether or not there was one: without it every text stays English, silently.
void installCatalogue(QCoreApplication &app, QTranslator &translator);
