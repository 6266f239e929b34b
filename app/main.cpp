#include "app/catalogue.h"
#include "app/widget.h"
#include "monitor/monitor.h"

#include <QApplication>
#include <QTranslator>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QTranslator translator;
    installCatalogue(app, translator);

    Widget window;
    // Records from the start; the monitor window itself is built when first asked for.
    new monitor::Monitor(&window);
    window.show();
    return app.exec();
}
