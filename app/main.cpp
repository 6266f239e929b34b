#include "app/catalogue.h"
#include "app/widget.h"
#include "monitor/monitor.h"

#include <QApplication>
#include <QIcon>
#include <QTranslator>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION));
    // Every window and message box carries the mark; on Wayland the desktop entry names it.
    QIcon icon;
    for (const int size : {16, 32, 48, 256})
        icon.addFile(QStringLiteral(":/icons/quorvel-%1.png").arg(size));
    QApplication::setWindowIcon(icon);
    QGuiApplication::setDesktopFileName(QStringLiteral("quorvel"));
    QTranslator translator;
    installCatalogue(app, translator);

    Widget window;
    // Records from the start; the monitor window itself is built when first asked for.
    new monitor::Monitor(&window);
    window.show();
    return app.exec();
}
