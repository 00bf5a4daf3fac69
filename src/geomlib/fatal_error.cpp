#include "geomlib/fatal_error.h"

void g_fail(const char* condition, const char* message, const char* file, int line) {
    throw Fatal_Error(condition, message, file, line);
}
