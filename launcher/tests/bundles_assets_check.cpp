// Reads every file of the two embedded resource bundles through ":/" with the
// reader of its kind and reports each one that does not read:
//   images (PNG, JPEG, GIF, MNG)  every frame decodes, and the content is of
//                                 the kind its suffix names
//   translation catalogues        the toolkit's translator loads them
//   style sheets (.qss, .css)     the toolkit's style sheet parser takes them
//   certificates (.der)           one whole DER X.509 certificate each to
//                                 libcrypto and to the toolkit, its signature
//                                 good when its issuer is in the set
//   scripts, text                 valid UTF-8
// Exit code 0 when every file reads, 1 otherwise.

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <QApplication>
#include <QBuffer>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QMap>
#include <QSslCertificate>
#include <QSslSocket>
#include <QTextCodec>
#include <QTranslator>
#include <QWidget>
#include <cstdio>
#include <map>
#include <memory>

namespace {

int failures = 0;

void fail(const QString& path, const QString& reason) {
    ++failures;
    std::printf("FAIL %s: %s\n", qPrintable(path), qPrintable(reason));
}

QByteArray readResource(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return QByteArray();
    }
    return file.readAll();
}

// The image format that the content itself shows, against the one the suffix names.
bool checkImage(const QString& path, const QByteArray& data) {
    static const QHash<QString, QByteArray> formats = {
        {"png", "png"}, {"jpg", "jpeg"}, {"gif", "gif"}, {"mng", "mng"}};
    const QByteArray expected = formats.value(QFileInfo(path).suffix());
    QBuffer sniffed;
    sniffed.setData(data);
    sniffed.open(QIODevice::ReadOnly);
    const QByteArray found = QImageReader::imageFormat(&sniffed);
    if (found != expected) {
        fail(path, QString("content is %1, not %2")
                       .arg(found.isEmpty() ? QString("no known image format")
                                            : QString::fromLatin1(found))
                       .arg(QString::fromLatin1(expected)));
        return false;
    }
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, expected);
    int frames = 0;
    QImage frame;
    while (reader.canRead() && reader.read(&frame)) {
        if (frame.isNull()) {
            break;
        }
        ++frames;
    }
    if (frames == 0) {
        fail(path, "does not decode: " + reader.errorString());
        return false;
    }
    if (reader.imageCount() > frames) {
        fail(path, QString("decodes %1 of %2 frames").arg(frames).arg(reader.imageCount()));
        return false;
    }
    return true;
}

bool checkCatalogue(const QString& path) {
    QTranslator translator;
    if (!translator.load(path) || translator.isEmpty()) {
        fail(path, "the translator does not load it");
        return false;
    }
    return true;
}

QString parseWarnings;

void collectWarnings(QtMsgType, const QMessageLogContext&, const QString& message) {
    parseWarnings += message;
}

// True when the toolkit's parser takes the sheet, applied to the application
// and to a widget tree that it then styles.
bool styleSheetParses(const QString& sheet) {
    parseWarnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectWarnings);
    qApp->setStyleSheet(sheet);
    QWidget window;
    QLabel label(&window);
    window.ensurePolished();
    label.ensurePolished();
    qApp->setStyleSheet(QString());
    qInstallMessageHandler(previous);
    return !parseWarnings.contains("Could not parse");
}

bool checkStyleSheet(const QString& path, const QByteArray& data) {
    if (!styleSheetParses(QString::fromUtf8(data))) {
        fail(path, "the style sheet parser rejects it: " + parseWarnings.trimmed());
        return false;
    }
    return true;
}

bool checkText(const QString& path, const QByteArray& data) {
    QTextCodec::ConverterState state;
    QTextCodec::codecForName("UTF-8")->toUnicode(data.constData(), data.size(), &state);
    if (state.invalidChars != 0) {
        fail(path, "not valid UTF-8");
        return false;
    }
    return true;
}

struct X509Free {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
using Certificate = std::unique_ptr<X509, X509Free>;

QByteArray nameKey(const X509_NAME* name) {
    unsigned char* der = nullptr;
    const int length = i2d_X509_NAME(name, &der);
    const QByteArray key(reinterpret_cast<const char*>(der), length > 0 ? length : 0);
    OPENSSL_free(der);
    return key;
}

// Every certificate must parse as exactly one DER certificate, with libcrypto
// and with the toolkit's certificate class; those whose issuer is in the set
// must carry a good signature of that issuer.
int checkCertificates(const QMap<QString, QByteArray>& files) {
    std::map<QString, Certificate> parsed;
    QHash<QByteArray, X509*> bySubject;
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        const auto* begin = reinterpret_cast<const unsigned char*>(it.value().constData());
        const unsigned char* cursor = begin;
        Certificate certificate(d2i_X509(nullptr, &cursor, it.value().size()));
        if (!certificate) {
            fail(it.key(), "not a DER X.509 certificate");
            continue;
        }
        if (cursor != begin + it.value().size()) {
            fail(it.key(), "bytes after the certificate");
            continue;
        }
        const QSslCertificate toolkit(it.value(), QSsl::Der);
        if (toolkit.isNull() || toolkit.subjectInfo(QSslCertificate::CommonName).isEmpty()) {
            fail(it.key(), "the toolkit does not read it");
            continue;
        }
        bySubject.insert(nameKey(X509_get_subject_name(certificate.get())), certificate.get());
        parsed.emplace(it.key(), std::move(certificate));
    }
    int good = 0;
    for (auto it = parsed.cbegin(); it != parsed.cend(); ++it) {
        X509* issuer = bySubject.value(nameKey(X509_get_issuer_name(it->second.get())));
        if (issuer != nullptr && X509_verify(it->second.get(), X509_get0_pubkey(issuer)) != 1) {
            fail(it->first, "the signature of its issuer does not verify");
            continue;
        }
        ++good;
    }
    return good;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);

    // The check of style sheets must be able to fail.
    if (styleSheetParses("QWidget { color: black; ") || !styleSheetParses("QWidget { }")) {
        std::printf("FAIL: the style sheet parser cannot be observed here\n");
        return 1;
    }
    if (!QSslSocket::supportsSsl()) {
        std::printf("FAIL: the toolkit cannot load OpenSSL to read certificates\n");
        return 1;
    }
    if (!QImageReader::supportedImageFormats().contains("mng")) {
        std::printf("FAIL: no MNG image reader (Debian package qt5-image-formats-plugins)\n");
        return 1;
    }

    QStringList paths;
    QDirIterator top(":/", QDir::Files);
    while (top.hasNext()) {
        paths << top.next();
    }
    for (const char* folder : {":/qss", ":/translations", ":/images", ":/certificates"}) {
        QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            paths << it.next();
        }
    }
    paths.sort();

    QMap<QString, int> good;
    QMap<QString, QByteArray> certificates;
    for (const QString& path : paths) {
        const QByteArray data = readResource(path);
        if (data.isEmpty()) {
            fail(path, "empty or unreadable");
            continue;
        }
        const QString suffix = QFileInfo(path).suffix();
        bool ok = false;
        QString kind;
        if (suffix == "png" || suffix == "jpg" || suffix == "gif" || suffix == "mng") {
            kind = "images";
            ok = checkImage(path, data);
        } else if (suffix == "qm") {
            kind = "translation catalogues";
            ok = checkCatalogue(path);
        } else if (suffix == "qss" || suffix == "css") {
            kind = "style sheets";
            ok = checkStyleSheet(path, data);
        } else if (suffix == "js" || suffix == "txt") {
            kind = "scripts and text";
            ok = checkText(path, data);
        } else if (suffix == "der") {
            certificates.insert(path, data);
            continue;
        } else {
            fail(path, "no check for files of this kind");
        }
        if (ok) {
            ++good[kind];
        }
    }
    good["certificates"] = checkCertificates(certificates);

    for (auto it = good.cbegin(); it != good.cend(); ++it) {
        std::printf("ok   %d %s\n", it.value(), qPrintable(it.key()));
    }
    std::printf("%d files, %d failed\n", static_cast<int>(paths.size()), failures);
    return failures == 0 ? 0 : 1;
}
