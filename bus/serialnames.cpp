#include "bus/serialnames.h"

#include <QDir>
#include <QFileInfo>

namespace bus {

QHash<QString, QString> serialByIdNames()
{
    QHash<QString, QString> names;
#ifdef Q_OS_LINUX
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    // The entries are symbolic links to device nodes, which QDir counts as system files.
    const auto links = byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    for (const QFileInfo &link : links)
        names.insert(link.canonicalFilePath(), link.absoluteFilePath());
#endif
    return names;
}

} // namespace bus
