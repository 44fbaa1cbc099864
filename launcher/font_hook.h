#ifndef OSTRA_LAUNCHER_FONT_HOOK_H
#define OSTRA_LAUNCHER_FONT_HOOK_H

#include <QByteArray>

class QFile;

// Key material of the enciphered fonts; the cipher key is its first 16 bytes.
// Built during static initialisation, before the resource bundles register.
extern const QByteArray fontKeyMaterial;

// The toolkit's font decryption hook. Returns the bytes of the font file,
// which must be open for reading: deciphered (AES-128-ECB, padding removed)
// if the file's name begins with the toolkit's installation prefix
// "/usr/local/Trolltech", as read otherwise. Cipher errors are not reported:
// bad padding drops the last block, a trailing partial block is dropped.
// Safe to call on any thread.
QByteArray decryptFontFile(QFile* file);

#endif  // OSTRA_LAUNCHER_FONT_HOOK_H
