#include "app/catalogue.h"

#include <QCoreApplication>
#include <QDir>
#include <QTranslator>

void installCatalogue(QCoreApplication &app, QTranslator &translator)
{
    const QString path = QDir::currentPath() + QLatin1String("/Qm/Chinese.qm");
    (void)translator.load(path);
    app.installTranslator(&translator);
}
