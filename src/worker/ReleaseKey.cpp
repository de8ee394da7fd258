#include "worker/ReleaseKey.h"

// On its own so that a program can be linked with another key than the
// library's (the tests' signed terminal program).
const char* BuiltInReleaseKey()
{
    return VORN_RELEASE_KEY_DEFAULT;
}
