#include "value_notation.h"
