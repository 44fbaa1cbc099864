#include "main_window.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QFileInfo>
#include <QLabel>
#include <QMap>
#include <QStringList>
#include <QVBoxLayout>
#include <QWidget>

namespace plinth {

namespace {

// Returns one line per top-level folder under ":/" (the root's own files
// counted as "/"): its number of files and their bytes.
QStringList bundleSummary() {
    QMap<QString, QPair<int, qint64> > folders;
    QDirIterator it(QStringLiteral(":/"), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const int slash = path.indexOf(QLatin1Char('/'), 2);
        const QString folder = slash < 0 ? QStringLiteral("/") : path.mid(2, slash - 2);
        QPair<int, qint64>& entry = folders[folder];
        entry.first += 1;
        entry.second += QFileInfo(path).size();
    }
    QStringList lines;
    for (auto entry = folders.constBegin(); entry != folders.constEnd(); ++entry) {
        lines.append(QStringLiteral("%1: %2 files, %3 bytes")
                         .arg(entry.key())
                         .arg(entry.value().first)
                         .arg(entry.value().second));
    }
    if (lines.isEmpty()) {
        lines.append(QStringLiteral("no resources"));
    }
    return lines;
}

}  // namespace

QWidget* createMainWindow() {
    QWidget* window = new QWidget;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(QCoreApplication::applicationName());
    QVBoxLayout* layout = new QVBoxLayout(window);
    layout->addWidget(new QLabel(QCoreApplication::organizationName(), window));
    layout->addWidget(new QLabel(QCoreApplication::applicationName(), window));
    layout->addWidget(new QLabel(bundleSummary().join(QLatin1Char('\n')), window));
    return window;
}

}  // namespace plinth
