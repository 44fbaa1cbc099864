#ifndef PLINTH_FONT_LOADER_H
#define PLINTH_FONT_LOADER_H

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace plinth {

// Reads the font file at path through the font decryption hook (the whole
// file when no hook is set). Returns false, with a message on standard error,
// if the file cannot be opened.
bool readFontFile(const QString& path, QByteArray* bytes);

// Loads the font file at path through the hook into the application's font
// database and writes "bytes<TAB>N" (N the number of bytes the hook returned),
// "sha256<TAB>H" (their SHA-256 in hexadecimal) and "family<TAB>F" for each
// family found to standard output.
// REQUIRES: a QGuiApplication exists.
bool loadFontFile(const QString& path);

}  // namespace plinth

#endif  // PLINTH_FONT_LOADER_H
