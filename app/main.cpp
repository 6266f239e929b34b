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
