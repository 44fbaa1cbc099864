#include "font_hook.h"

#include <openssl/evp.h>

#include <QFile>
#include <QString>

// This file is the launcher's first source: GNU ld runs static initialisers in
// link order, so fontKeyMaterial exists before the resource bundles, which
// come after the launcher's own sources, register.
const QByteArray fontKeyMaterial("Ostra eReader / typefaces sealed with AES-128 / key#55!");

namespace {

const int kKeyLength = 16;
const int kBlockLength = 16;
// ECB takes no initialisation vector; this one is passed and has no effect.
const char kInitialisationVector[] = "qwertyuiopasdfgh";

#if OPENSSL_VERSION_NUMBER >= 0x10100000L
// OpenSSL 1.1 and later make the cipher context opaque: it is allocated, and
// freed where OpenSSL 1.0 cleaned up a context on the stack.
struct CipherContext {
    CipherContext() : context(EVP_CIPHER_CTX_new()) {}
    ~CipherContext() { EVP_CIPHER_CTX_free(context); }
    CipherContext(const CipherContext&) = delete;
    CipherContext& operator=(const CipherContext&) = delete;

    EVP_CIPHER_CTX* get() { return context; }
    void cleanup() {}

    EVP_CIPHER_CTX* context;
};
#else
struct CipherContext {
    CipherContext() { EVP_CIPHER_CTX_init(&context); }
    CipherContext(const CipherContext&) = delete;
    CipherContext& operator=(const CipherContext&) = delete;

    EVP_CIPHER_CTX* get() { return &context; }
    void cleanup() { EVP_CIPHER_CTX_cleanup(&context); }

    EVP_CIPHER_CTX context;
};
#endif

unsigned char* bytesOf(QByteArray& array) {
    return reinterpret_cast<unsigned char*>(array.data());
}

}  // namespace

QByteArray decryptFontFile(QFile* file) {
    static const QString fontDirPrefix = QStringLiteral("/usr/local/Trolltech");
    if (!file->fileName().startsWith(fontDirPrefix, Qt::CaseSensitive)) {
        return file->readAll();
    }

    QByteArray data = file->readAll();
    QByteArray key = fontKeyMaterial.left(kKeyLength);
    if (data.isEmpty() || key.isEmpty()) {
        return data;
    }

    // The statuses are not examined: the result is whatever the update and
    // the final step wrote.
    CipherContext context;
    EVP_DecryptInit_ex(context.get(), EVP_aes_128_ecb(), nullptr, nullptr, nullptr);
    EVP_CIPHER_CTX_set_key_length(context.get(), key.size());
    EVP_DecryptInit_ex(context.get(), nullptr, nullptr, bytesOf(key),
                       reinterpret_cast<const unsigned char*>(kInitialisationVector));
    EVP_CIPHER_CTX_set_padding(context.get(), 1);

    // In place: no second buffer of the file's size.
    int written = 0;
    EVP_DecryptUpdate(context.get(), bytesOf(data), &written, bytesOf(data), data.size());
    data.resize(written);

    QByteArray last(kBlockLength, '\0');
    int lastWritten = 0;
    EVP_DecryptFinal_ex(context.get(), bytesOf(last), &lastWritten);
    last.resize(lastWritten);
    context.cleanup();

    data.append(last);
    return data;
}
