#include "app/buildstamp.h"

#include <QLocale>

QDate parseBuildDate(const char *compilerDate)
{
    const QString text =
        QString::fromLatin1(compilerDate).replace(QLatin1String("  "), QLatin1String(" 0"));
    return QLocale(QLocale::English).toDate(text, QStringLiteral("MMM dd yyyy"));
}

QTime parseBuildTime(const char *compilerTime)
{
    return QTime::fromString(QString::fromLatin1(compilerTime), QStringLiteral("hh:mm:ss"));
}

QString makeVersionSuffix(const QDate &date, const QTime &time)
{
    return QLatin1String(" V") + date.toString(QStringLiteral("yyyy.MM.dd")) + QLatin1Char('.') +
           time.toString(QStringLiteral("hhmm"));
}

const QDate BuildDate = parseBuildDate(__DATE__);
const QTime BuildTime = parseBuildTime(__TIME__);
