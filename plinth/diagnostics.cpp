#include "diagnostics.h"

#include <csignal>
#include <cstdio>

#include <QCoreApplication>
#include <QDirIterator>
#include <QFileInfo>
#include <QMetaType>
#include <QResource>
#include <QStringList>

#include "crash_simulation.h"
#include "qt_compat.h"

namespace plinth {

namespace {

const char* const kMetaTypeNames[] = {
    "Activity",
    "Configuration",
    "UpgradeCheckResult",
    "ContentKey",
    "Device",
    "Publication",
    "Shortcover",
    "Tab",
    "Tab&",
    "User",
    "Volume",
    "VolumeShortcover",
    "QNetworkProxy",
    "QNetworkReply::NetworkError",
    "const QList<Bookmark>",
    "const QList<Volume>",
    "const QList<Shortcover>",
    "QTouchEvent::TouchPoint",
    "QList<QTouchEvent::TouchPoint>",
    "QSemaphore *",
    "QList<int>",
    "QString &",
    "QPointer<QObject>",
    "QPointer<InternetProvider>",
    "QImage &",
};

// The C library sets this flag itself when it installs a handler.
const int kRestorerFlag = 0x04000000;

// Returns the names of the crash signals whose handler is the one installed
// for SIGILL, with no flags and an empty mask.
QByteArray crashHandlerSignals() {
    struct sigaction reference;
    sigaction(SIGILL, nullptr, &reference);
    QByteArray names;
    for (const NamedSignal& entry : kCrashSignals) {
        struct sigaction action;
        sigaction(entry.number, nullptr, &action);
        const bool installed = action.sa_handler != SIG_DFL && action.sa_handler != SIG_IGN &&
                               action.sa_handler == reference.sa_handler &&
                               (action.sa_flags & ~kRestorerFlag) == 0 &&
                               sigisemptyset(&action.sa_mask) != 0;
        if (installed) {
            names += ' ';
            names += entry.name;
        }
    }
    return names;
}

}  // namespace

void traceConstruction() {
    int known = 0;
    for (const char* name : kMetaTypeNames) {
        if (QMetaType::type(name) != QMetaType::UnknownType) {
            ++known;
        }
    }
    const int total = static_cast<int>(sizeof(kMetaTypeNames) / sizeof(kMetaTypeNames[0]));
    std::fprintf(stderr,
                 "plinth: organization '%s', application '%s'\n"
                 "plinth: font hook %s\n"
                 "plinth: meta types known %d of %d\n"
                 "plinth: crash handler on%s\n"
                 "plinth: arguments %s\n",
                 QCoreApplication::organizationName().toUtf8().constData(),
                 QCoreApplication::applicationName().toUtf8().constData(),
                 qtCompatDecryptFontData != nullptr ? "set" : "not set", known, total,
                 crashHandlerSignals().constData(),
                 QCoreApplication::arguments().join(QLatin1Char(' ')).toUtf8().constData());
    std::fflush(stderr);
}

void traceEvent(const char* event) {
    std::fprintf(stderr, "plinth: %s\n", event);
    std::fflush(stderr);
}

void printNames() {
    std::printf("%s\n%s\n", QCoreApplication::organizationName().toUtf8().constData(),
                QCoreApplication::applicationName().toUtf8().constData());
    std::fflush(stdout);
}

void dumpMetaTypes() {
    for (const char* name : kMetaTypeNames) {
        std::printf("%s\t%d\n", name, QMetaType::type(name));
    }
    std::fflush(stdout);
}

void listResources() {
    QStringList paths;
    QDirIterator it(QStringLiteral(":/"), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        paths.append(it.next());
    }
    paths.sort();
    for (const QString& path : paths) {
        std::printf("%s\t%lld\n", path.toUtf8().constData(),
                    static_cast<long long>(QFileInfo(path).size()));
    }
    std::fflush(stdout);
}

bool dumpResource(const QString& path) {
    const QResource resource(path);
    if (!resource.isValid() || QFileInfo(path).isDir()) {
        std::fprintf(stderr, "plinth: no resource file %s\n", path.toUtf8().constData());
        return false;
    }
    const QByteArray content = resource.uncompressedData();
    std::fwrite(content.constData(), 1, static_cast<size_t>(content.size()), stdout);
    std::fflush(stdout);
    return true;
}

}  // namespace plinth
