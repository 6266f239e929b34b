// Quorvel's main() without the monitor: the start-up benchmark runs it in pairs with the real
// program, so that the difference is what the monitor costs at start. Everything else main()
// does is done here too: the window icon alone (four images decoded and handed to the display)
// costs more than the monitor should.
#include "app/catalogue.h"
#include "app/widget.h"

#include <QApplication>
#include <QIcon>
#include <QTranslator>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION));
    QIcon icon;
    for (const int size : {16, 32, 48, 256})
        icon.addFile(QStringLiteral(":/icons/quorvel-%1.png").arg(size));
    QApplication::setWindowIcon(icon);
    QGuiApplication::setDesktopFileName(QStringLiteral("quorvel"));
    QTranslator translator;
    installCatalogue(app, translator);

    Widget window;
    window.show();
    return app.exec();
}
