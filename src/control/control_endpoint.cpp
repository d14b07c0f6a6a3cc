// The control endpoint of a traced process: one listener thread serves the
// connections one after another. Each request (a 4-byte little-endian
// length, then the text) goes through one katr_remote_proc_c, and the reply
// goes back framed the same way. A connection that sends a malformed or
// oversized request, or stays silent past the receive timeout, is closed,
// so that one bad client never blocks the others for long.
#include "katrace_control.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "katrace.h"
#include "platform/platform.h"

namespace {

// The largest request accepted; longer ones close the connection.
const unsigned long MAX_REQUEST = 16ul * 1024 * 1024;
// How long a connection may stay silent before or within a request, and how
// long a reply may take to leave.
const unsigned RECEIVE_TIMEOUT_MS = 2000;
const unsigned SEND_TIMEOUT_MS = 5000;
// The slice in which the listener looks at the stop request.
const unsigned SLICE_MS = 100;

// Error codes of katr_control_start.
const int ERROR_ENDPOINT = 1;
const int ERROR_THREAD = 2;

std::mutex g_lock;  // guards the fields below against concurrent start/stop
intptr_t g_listener = PLAT_NO_ENDPOINT;
plat_thread_t g_thread = PLAT_NO_THREAD;
unsigned long g_owner_pid = 0;  // the process that opened the endpoint
bool g_exit_hook = false;
std::atomic<bool> g_stop{false};

// Receives exactly size bytes before the timeout runs out, looking at the
// stop request between slices. False when the peer closed, the time ran
// out, or the endpoint is stopping.
bool receive_exact(intptr_t conn, unsigned char* buf, size_t size, unsigned timeout_ms) {
    const unsigned long long deadline = plat_clock_ms() + timeout_ms;
    while (size > 0) {
        if (g_stop.load(std::memory_order_relaxed)) return false;
        const unsigned long long now = plat_clock_ms();
        if (now >= deadline) return false;
        const unsigned long long left = deadline - now;
        const int n = plat_conn_receive(conn, buf, size, left < SLICE_MS ? static_cast<unsigned>(left) : SLICE_MS);
        if (n < 0) return false;
        buf += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Receives one request into text (NUL-terminated); false when the
// connection is to be closed.
bool receive_request(intptr_t conn, std::vector<char>& text) {
    unsigned char head[4];
    if (!receive_exact(conn, head, sizeof head, RECEIVE_TIMEOUT_MS)) return false;
    const unsigned long length = static_cast<unsigned long>(head[0]) | static_cast<unsigned long>(head[1]) << 8 |
                                 static_cast<unsigned long>(head[2]) << 16 | static_cast<unsigned long>(head[3]) << 24;
    if (length > MAX_REQUEST) return false;
    // Grown as the bytes arrive: a length alone reserves no memory.
    text.clear();
    size_t have = 0;
    while (have < length) {
        const size_t piece = length - have < 65536 ? length - have : 65536;
        text.resize(have + piece);
        if (!receive_exact(conn, reinterpret_cast<unsigned char*>(text.data() + have), piece, RECEIVE_TIMEOUT_MS))
            return false;
        have += piece;
    }
    text.resize(have + 1);
    text[have] = 0;
    return true;
}

bool send_reply(intptr_t conn, const char* reply) {
    const size_t n = std::strlen(reply);
    if (n > 0xFFFFFFFFu) return false;
    const unsigned char head[4] = {static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8),
                                   static_cast<unsigned char>(n >> 16), static_cast<unsigned char>(n >> 24)};
    return plat_conn_send(conn, head, sizeof head, SEND_TIMEOUT_MS) && plat_conn_send(conn, reply, n, SEND_TIMEOUT_MS);
}

// Answers the requests of one connection until it closes or misbehaves.
void serve(intptr_t conn, katr_remote_proc_c& proc, std::vector<char>& text) {
    while (!g_stop.load(std::memory_order_relaxed) && receive_request(conn, text)) {
        const char* reply = proc.process_received_string(text.data());
        if (!send_reply(conn, reply ? reply : "")) return;
    }
}

void listener_main(void* arg) {
    const intptr_t listener = reinterpret_cast<intptr_t>(arg);
    try {
        katr_remote_proc_c proc;
        std::vector<char> text;
        while (!g_stop.load(std::memory_order_relaxed)) {
            const unsigned long long began = plat_clock_ms();
            const intptr_t conn = plat_control_accept(listener, SLICE_MS);
            if (conn == PLAT_NO_ENDPOINT) {
                // A failing endpoint must not turn into a busy loop.
                if (plat_clock_ms() - began < SLICE_MS / 2) plat_sleep_ms(SLICE_MS);
                continue;
            }
            try {
                serve(conn, proc, text);
            } catch (const std::bad_alloc&) {
                std::fputs("katrace_control: out of memory for a request; connection closed\n", stderr);
            }
            plat_conn_close(conn);
            // A large request's buffer is not kept for the process's life.
            if (text.capacity() > 65536) std::vector<char>().swap(text);
        }
    } catch (...) {
        std::fputs("katrace_control: the listener stopped after an unexpected failure\n", stderr);
    }
}

// Closes the endpoint; the caller holds g_lock. At process exit on Windows
// the listener is already gone with every other thread, so only the flag is
// set; in a forked child the thread and the socket belong to the parent.
void stop_locked(bool at_exit) {
    if (g_listener == PLAT_NO_ENDPOINT) return;
    const bool owner = g_owner_pid == plat_pid();
    g_stop.store(true, std::memory_order_relaxed);
    if (at_exit && PLAT_DETACH_AFTER_THREADS) return;
    if (owner) plat_thread_join(g_thread);
    plat_control_close(g_listener, owner);
    g_listener = PLAT_NO_ENDPOINT;
    g_thread = PLAT_NO_THREAD;
}

void stop_at_exit() {
    std::lock_guard<std::mutex> hold(g_lock);
    stop_locked(true);
}

}  // namespace

int katr_control_start(void) {
    std::lock_guard<std::mutex> hold(g_lock);
    if (g_listener != PLAT_NO_ENDPOINT && g_owner_pid == plat_pid()) return 0;
    if (g_listener != PLAT_NO_ENDPOINT) stop_locked(false);  // inherited through fork: the parent's
    char why[600];
    const intptr_t listener = plat_control_listen(why, sizeof why);
    if (listener == PLAT_NO_ENDPOINT) {
        std::fprintf(stderr, "katrace_control: no control endpoint: %s\n", why);
        return ERROR_ENDPOINT;
    }
    g_stop.store(false, std::memory_order_relaxed);
    const plat_thread_t t = plat_thread_start(listener_main, reinterpret_cast<void*>(listener), "katr-control");
    if (t == PLAT_NO_THREAD) {
        plat_control_close(listener, true);
        std::fputs("katrace_control: no control endpoint: cannot start its thread\n", stderr);
        return ERROR_THREAD;
    }
    g_listener = listener;
    g_thread = t;
    g_owner_pid = plat_pid();
    if (!g_exit_hook) g_exit_hook = std::atexit(stop_at_exit) == 0;
    return 0;
}

void katr_control_stop(void) {
    std::lock_guard<std::mutex> hold(g_lock);
    stop_locked(false);
}
