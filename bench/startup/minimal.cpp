// The yardstick of the start-up benchmark: the least a Qt Widgets program does to show a window
// of Quorvel's size.
#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.resize(874, 628);
    auto *layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel(QStringLiteral("Hello"), &window));
    window.show();
    return app.exec();
}
