// The target that builds the test programs' shared precompiled header.
#include "tests/support/precompiled.h"
