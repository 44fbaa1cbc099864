#include "font_loader.h"

#include <cstdio>

#include <QCryptographicHash>
#include <QFile>
#include <QFontDatabase>

#include "qt_compat.h"

DecryptFontDataFunction qtCompatDecryptFontData = nullptr;

namespace plinth {

bool readFontFile(const QString& path, QByteArray* bytes) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "plinth: cannot open font file %s: %s\n", path.toUtf8().constData(),
                     file.errorString().toUtf8().constData());
        return false;
    }
    *bytes = qtCompatDecryptFontData != nullptr ? qtCompatDecryptFontData(&file) : file.readAll();
    return true;
}

bool loadFontFile(const QString& path) {
    QByteArray bytes;
    if (!readFontFile(path, &bytes)) {
        return false;
    }
    std::printf("bytes\t%d\nsha256\t%s\n", bytes.size(),
                QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().constData());
    const int id = QFontDatabase::addApplicationFontFromData(bytes);
    if (id >= 0) {
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        for (const QString& family : families) {
            std::printf("family\t%s\n", family.toUtf8().constData());
        }
    }
    std::fflush(stdout);
    return true;
}

}  // namespace plinth
