#pragma once

#include <QObject>

class QPoint;
class QTextBrowser;

// The message pane's context menu: the pane's own entries, then "Save As..." (the pane's text
// to a file) and "Clear".
class ExchangeLogMenu : public QObject
{
    Q_OBJECT

public:
    // Owned by the pane.
    explicit ExchangeLogMenu(QTextBrowser *pane);

private:
    void popUp(const QPoint &position);
    void saveAs();

    QTextBrowser *m_pane;
};
