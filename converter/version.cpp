#include "converter/version.h"

#include "krelt_version.h"

// External, so that it stays in every program linked with the header code
// even where nothing reads it.
extern const char VERSION_TEXT[] = "krelt version " KRELT_VERSION;
