#pragma once

#include <QDate>
#include <QString>
#include <QTime>

// The compiler's date text ("Jan 20 2021", "Jan  5 2021") read in the English locale, whatever
// the user's locale: a day below 10 keeps a leading zero.
QDate parseBuildDate(const char *compilerDate);
// The compiler's time text ("19:52:40").
QTime parseBuildTime(const char *compilerTime);
// " V2021.01.20.1952": appended to the window title.
QString makeVersionSuffix(const QDate &date, const QTime &time);

extern const QDate BuildDate;
extern const QTime BuildTime;
