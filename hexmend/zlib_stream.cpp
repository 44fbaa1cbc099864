#include "zlib_stream.h"
