#pragma once

#include <QString>

class QDateTime;

namespace protocol {

inline constexpr char exchangeLogTimeFormat[] = "yyyy-MM-dd hh:mm:ss";

// One line of the message pane: time stamp, "->TX  " or "->RX  ", the frame's hex text.
QString exchangeLogLine(const QDateTime &when, const QString &hexText, bool received);

} // namespace protocol
