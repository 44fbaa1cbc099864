#ifndef OSTRA_LAUNCHER_QT_COMPAT_H
#define OSTRA_LAUNCHER_QT_COMPAT_H

// The launcher is written against the Qt 4.8 Embedded API of the device. This
// header holds the few places where Qt 5 differs, so that the rest of the
// launcher reads the same on both.

#include <QByteArray>
#include <QMetaType>
#include <QtGlobal>

#include <new>

class QFile;

// Type of the toolkit's font decryption hook: takes a font file that is open
// for reading and returns the font's bytes.
typedef QByteArray (*DecryptFontDataFunction)(QFile* file);

#if QT_VERSION >= QT_VERSION_CHECK(5, 0, 0)

// Qt 5's QFontDatabase has no decryptFontData hook. The application library
// keeps a variable of the same type instead and reads every font file that it
// loads through it.
extern DecryptFontDataFunction qtCompatDecryptFontData;

// The slot the font hook is stored into.
inline DecryptFontDataFunction& fontDecryptHook() {
    return qtCompatDecryptFontData;
}

// In-place destructor and constructor of T for the meta-type system. The
// constructor value-initialises, as Qt 4.8's standard constructor did with
// new T(): an enumeration starts at 0 and a pointer as null. Qt 5's own
// helper default-initialises, which leaves those indeterminate.
template <typename T>
struct QtCompatMetaTypeFunctions {
    static void destruct(void* value) { static_cast<T*>(value)->~T(); }

    static void* construct(void* where, const void* source) {
        if (source != nullptr) {
            return new (where) T(*static_cast<const T*>(source));
        }
        return new (where) T();
    }
};

// Registers typeName as a type of its own with the toolkit's standard
// constructor/destroyer pair for T. Returns the type id.
//
// Qt 5 ignores the heap deleter/creator pair of the Qt 4.8 call and makes
// values in place from a destructor/constructor pair and the type's size and
// flags. It also aborts when a type name that it already knows is registered
// again with another size, as happens when the toolkit later registers one of
// these names itself (QNetworkProxy, QList<int>, QPointer<QObject> ...), so
// the registration carries the size and flags that Qt 5's own template gives.
template <typename T>
int registerMetaTypeName(const char* typeName) {
    return QMetaType::registerType(typeName, nullptr, nullptr,
                                   QtCompatMetaTypeFunctions<T>::destruct,
                                   QtCompatMetaTypeFunctions<T>::construct, int(sizeof(T)),
                                   QMetaType::TypeFlags(QtPrivate::QMetaTypeTypeFlags<T>::Flags),
                                   QtPrivate::MetaObjectForType<T>::value());
}

#else

#include <QFontDatabase>

inline DecryptFontDataFunction& fontDecryptHook() {
    return QFontDatabase::decryptFontData;
}

template <typename T>
int registerMetaTypeName(const char* typeName) {
    return QMetaType::registerType(
        typeName, reinterpret_cast<QMetaType::Destructor>(qMetaTypeDeleteHelper<T>),
        reinterpret_cast<QMetaType::Constructor>(qMetaTypeConstructHelper<T>));
}

#endif

#endif  // OSTRA_LAUNCHER_QT_COMPAT_H
