#ifndef PLINTH_DIAGNOSTICS_H
#define PLINTH_DIAGNOSTICS_H

#include <QString>

// What the stand-in reports about the process it runs in, for tests.
namespace plinth {

// Writes to standard error what the launcher has set up before the
// application object exists, one "plinth: " line each: the two names, whether
// the font decryption hook is set, how many of the 25 meta-type names are
// known, which signals have one common handler installed with no flags and an
// empty mask, and the arguments the application object was left with.
void traceConstruction();

// Writes "plinth: " and event to standard error.
void traceEvent(const char* event);

// The functions below write to standard output.

// "organization name\napplication name\n".
void printNames();

// For each of the 25 registered meta-type names in registration order:
// "name<TAB>id", the id being what QMetaType::type(name) gives.
void dumpMetaTypes();

// Every file under ":/", "path<TAB>size in bytes", sorted by path.
void listResources();

// The content of the resource at path, decompressed. Returns false, with a
// message on standard error, if there is no such resource.
bool dumpResource(const QString& path);

}  // namespace plinth

#endif  // PLINTH_DIAGNOSTICS_H
