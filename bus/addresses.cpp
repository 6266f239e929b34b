#include "bus/addresses.h"

#include <QRegularExpression>

namespace bus {

std::optional<QList<int>> parseAddressList(const QString &text)
{
    static const QRegularExpression item(
        QStringLiteral("^\\s*([0-9]{1,3})\\s*(?:-\\s*([0-9]{1,3})\\s*)?$"));
    QList<int> addresses;
    for (const QString &part : text.split(QLatin1Char(','))) {
        const QRegularExpressionMatch m = item.match(part);
        if (!m.hasMatch())
            return std::nullopt;
        const int first = m.captured(1).toInt();
        const int last = m.captured(2).isEmpty() ? first : m.captured(2).toInt();
        if (first < lowestAddress || last > highestAddress || first > last)
            return std::nullopt;
        for (int address = first; address <= last; ++address) {
            if (!addresses.contains(address))
                addresses.append(address);
        }
    }
    return addresses;
}

} // namespace bus
