#pragma once

class QCoreApplication;
class QTranslator;

// Loads "Qm/Chinese.qm" below the current working directory into `translator` and installs it
// in `app` whether or not the file was there: without it every text stays English, silently.
void installCatalogue(QCoreApplication &app, QTranslator &translator);
