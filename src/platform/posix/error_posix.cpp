// The system error codes of POSIX (the last error itself is errno, read
// inline: platform.h).
#include "platform/platform.h"

#include <cerrno>

bool plat_error_in_use(unsigned long code) {
    return code == static_cast<unsigned long>(EBUSY);
}
