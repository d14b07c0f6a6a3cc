// Environment variables, through secure_getenv: a set-user-id or
// set-group-id process sees none.
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

bool plat_environment(const char* name, char* buf, size_t size) {
    if (!buf || size == 0) return false;
    buf[0] = 0;
    if (!name) return false;
    const char* value = secure_getenv(name);
    if (!value || !*value) return false;
    const size_t n = std::strlen(value);
    if (n >= size) return false;
    std::memcpy(buf, value, n + 1);
    return true;
}
