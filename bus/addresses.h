#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace bus {

inline constexpr int lowestAddress = 1;
inline constexpr int highestAddress = 247;

// "1, 3, 17-20": addresses in the order given, each once; nothing when malformed or out of range.
std::optional<QList<int>> parseAddressList(const QString &text);

} // namespace bus
