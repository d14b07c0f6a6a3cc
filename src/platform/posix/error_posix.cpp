// The last system error code of the calling thread: errno.
#include "platform/platform.h"

#include <cerrno>

unsigned long plat_last_error() {
    return static_cast<unsigned long>(errno);
}

void plat_set_last_error(unsigned long code) {
    errno = static_cast<int>(code);
}

bool plat_error_in_use(unsigned long code) {
    return code == static_cast<unsigned long>(EBUSY);
}
