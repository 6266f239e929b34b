#include "protocol/exchangelog.h"

#include <QDateTime>

namespace protocol {

QString exchangeLogLine(const QDateTime &when, const QString &hexText, bool received)
{
    return when.toString(QLatin1String(exchangeLogTimeFormat)) +
           (received ? QLatin1String("->RX  ") : QLatin1String("->TX  ")) + hexText;
}

} // namespace protocol
