#ifndef OSTRA_LAUNCHER_META_TYPES_H
#define OSTRA_LAUNCHER_META_TYPES_H

// Makes the 25 type names that the application library and the toolkit pass
// by name (queued signal arguments, variants) known to the meta-type system,
// in a fixed order. The resulting ids are not kept.
// REQUIRES: called once, on the main thread, before the application object
// exists.
void registerMetaTypes();

#endif  // OSTRA_LAUNCHER_META_TYPES_H
