#include "app/exchangelogmenu.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QSaveFile>
#include <QTextBrowser>

#include <memory>

ExchangeLogMenu::ExchangeLogMenu(QTextBrowser *pane) : QObject(pane), m_pane(pane)
{
    pane->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(pane, &QWidget::customContextMenuRequested, this, &ExchangeLogMenu::popUp);
}

void ExchangeLogMenu::popUp(const QPoint &position)
{
    // The position is the viewport's, as the pane's own menu expects it.
    const std::unique_ptr<QMenu> menu(m_pane->createStandardContextMenu(position));
    menu->addSeparator();
    connect(menu->addAction(tr("Save As...")), &QAction::triggered, this, &ExchangeLogMenu::saveAs);
    connect(menu->addAction(tr("Clear")), &QAction::triggered, m_pane, &QTextBrowser::clear);
    menu->exec(m_pane->viewport()->mapToGlobal(position));
}

void ExchangeLogMenu::saveAs()
{
    const QString suggested = QDir::home().filePath(QDateTime::currentDateTime().toString(
        QStringLiteral("'quorvel-messages-'yyyyMMdd-hhmmss'.txt'")));
    const QString path = QFileDialog::getSaveFileName(m_pane->window(), tr("Save As"), suggested,
                                                      tr("Text files (*.txt)"));
    if (path.isEmpty())
        return;
    // Whole or not at all: a failed save leaves an earlier file of that name as it was.
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(m_pane->toPlainText().toUtf8());
        file.write("\n");
        if (file.commit())
            return;
    }
    QMessageBox::information(
        m_pane->window(), tr("Error"),
        tr("Cannot save %1: %2").arg(QDir::toNativeSeparators(path), file.errorString()));
}
