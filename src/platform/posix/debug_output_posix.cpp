// Debugger output on POSIX: texts go as datagrams (UTF-8) to a viewer that
// listens on a per-user Unix socket. While no viewer listens, the test for
// one costs a read of a coarse clock and two relaxed atomics; the endpoint
// is probed at most once a second.
#include "platform/platform.h"
#include "platform/posix/fork_posix.h"
#include "platform/posix/unix_socket_posix.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const long long PROBE_INTERVAL_NS = 1000000000LL;

// True while a viewer is known to listen.
std::atomic<bool> g_active{false};
// Coarse-clock time before which no new probe is made.
std::atomic<long long> g_next_probe_ns{0};
// The socket every datagram is sent from (unbound, unconnected), or -1.
std::atomic<int> g_sender{-1};

// The endpoint path and whether it is the default one, guarded by g_lock.
pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;

// Holds g_lock; the thread counts as busy meanwhile.
class path_hold_c {
public:
    path_hold_c() { plat_busy_enter(), pthread_mutex_lock(&g_lock); }
    ~path_hold_c() { pthread_mutex_unlock(&g_lock), plat_busy_leave(); }
    path_hold_c(const path_hold_c&) = delete;
    path_hold_c& operator=(const path_hold_c&) = delete;
};
char g_path[sizeof(sockaddr_un::sun_path)];
bool g_path_set = false;
bool g_path_is_default = false;

// Keeps errno as the caller left it: debugger output is invisible to it.
struct errno_keeper_s {
    int saved = errno;
    ~errno_keeper_s() { errno = saved; }
};

// Monotonic time from the vDSO's coarse clock: no system call.
long long coarse_now_ns() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// $XDG_RUNTIME_DIR/katrace-debug.sock, else /tmp/katrace-<uid>/debug.sock
// (whose directory is created private to the user). Empty when too long.
void build_default_path() {
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    int n;
    if (runtime && runtime[0] == '/') {
        n = snprintf(g_path, sizeof g_path, "%s/katrace-debug.sock", runtime);
    } else {
        char dir[64];
        snprintf(dir, sizeof dir, "/tmp/katrace-%lu", static_cast<unsigned long>(getuid()));
        mkdir(dir, 0700);
        n = snprintf(g_path, sizeof g_path, "%s/debug.sock", dir);
    }
    if (n < 0 || static_cast<size_t>(n) >= sizeof g_path) g_path[0] = 0;
    g_path_is_default = true;
}

// Fills the path on first use; the caller holds g_lock.
void ensure_path_locked() {
    if (!g_path_set) {
        build_default_path();
        g_path_set = true;
    }
}

// The default endpoint's directory must belong to this user and admit no
// one else, so that no other user can collect the texts.
bool directory_is_private(const char* path) {
    char dir[sizeof g_path];
    strcpy(dir, path);
    char* slash = strrchr(dir, '/');
    if (!slash || slash == dir) return false;
    *slash = 0;
    return posix_private_directory(dir, POSIX_PRIVATE_CHECK);
}

// The socket address of the endpoint; false when there is none usable.
bool endpoint_address(sockaddr_un* addr, bool check_owner) {
    path_hold_c hold;
    ensure_path_locked();
    if (!g_path[0]) return false;
    if (check_owner && g_path_is_default && !directory_is_private(g_path)) return false;
    memset(addr, 0, sizeof *addr);
    addr->sun_family = AF_UNIX;
    strcpy(addr->sun_path, g_path);
    return true;
}

// A viewer listens when a datagram socket can connect to the endpoint.
bool probe_endpoint() {
    sockaddr_un addr;
    if (!endpoint_address(&addr, true)) return false;
    int s = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) return false;
    bool ok = connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(s);
    return ok;
}

// The shared sending socket, created by the first sender.
int sender_socket() {
    int s = g_sender.load(std::memory_order_acquire);
    if (s >= 0) return s;
    int fresh = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fresh < 0) return -1;
    if (g_sender.compare_exchange_strong(s, fresh, std::memory_order_acq_rel)) return fresh;
    close(fresh);  // another thread was first
    return s;
}

// Forgets the viewer until the next probe is due.
void mark_viewer_gone() {
    g_active.store(false, std::memory_order_relaxed);
    g_next_probe_ns.store(coarse_now_ns() + PROBE_INTERVAL_NS, std::memory_order_relaxed);
}

// Sends one datagram; a refused or vanished endpoint means the viewer left,
// a full one only drops this text.
void send_datagram(const char* text, size_t size) {
    sockaddr_un addr;
    int s = sender_socket();
    if (s < 0 || !endpoint_address(&addr, false)) return;
    ssize_t n;
    do {
        n = sendto(s, text, size, MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != ENOBUFS && errno != EMSGSIZE)
        mark_viewer_gone();
}

}  // namespace

// Known viewer: true at once. Otherwise one thread per second probes.
bool plat_debug_output_active() {
    if (g_active.load(std::memory_order_relaxed)) return true;
    long long due = g_next_probe_ns.load(std::memory_order_relaxed);
    const long long now = coarse_now_ns();
    if (now < due) return false;
    if (!g_next_probe_ns.compare_exchange_strong(due, now + PROBE_INTERVAL_NS, std::memory_order_relaxed))
        return g_active.load(std::memory_order_relaxed);
    errno_keeper_s keep;
    const bool found = probe_endpoint();
    g_active.store(found, std::memory_order_relaxed);
    return found;
}

// Sends the text up to its first NUL byte, never past length.
void plat_debug_output(const char* text, size_t length) {
    if (!text || !length || !plat_debug_output_active()) return;
    errno_keeper_s keep;
    const void* nul = memchr(text, 0, length);
    const size_t n = nul ? static_cast<size_t>(static_cast<const char*>(nul) - text) : length;
    if (n) send_datagram(text, n);
}

// The endpoint path (built on first use).
const char* plat_debug_endpoint() {
    path_hold_c hold;
    ensure_path_locked();
    return g_path;
}

// For tests: another endpoint path, or the default again for null. The next
// activity test probes at once.
void plat_set_debug_endpoint(const char* path) {
    {
        path_hold_c hold;
        if (path) {
            snprintf(g_path, sizeof g_path, "%s", path);
            if (strlen(path) >= sizeof g_path) g_path[0] = 0;
            g_path_is_default = false;
            g_path_set = true;
        } else {
            g_path_set = false;
        }
    }
    g_active.store(false, std::memory_order_relaxed);
    g_next_probe_ns.store(0, std::memory_order_relaxed);
}

// Around fork: the endpoint's lock is taken by the forking thread, so that
// no other thread holds it in the child, and released in both processes.
void posix_debug_output_before_fork() { pthread_mutex_lock(&g_lock); }
void posix_debug_output_after_fork() { pthread_mutex_unlock(&g_lock); }
