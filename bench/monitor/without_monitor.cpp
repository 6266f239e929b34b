// Quorvel's main() as it was before the monitor: the start-up benchmark runs it in pairs with
// the real program, so that the difference is what the monitor costs at start.
#include "app/catalogue.h"
#include "app/widget.h"

#include <QApplication>
#include <QTranslator>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QTranslator translator;
    installCatalogue(app, translator);

    Widget window;
    window.show();
    return app.exec();
}
