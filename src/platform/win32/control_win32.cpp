// The control endpoint on Windows: the named pipe \\.\pipe\katrace-<pid>,
// byte mode, overlapped I/O so that every wait has a timeout. Its security
// descriptor grants access to the current user only; the first instance is
// created with FILE_FLAG_FIRST_PIPE_INSTANCE, so that a pipe someone else
// made under the name is refused rather than joined, and a new instance is
// made before a connected one is handed out, so the name is never free.
// A client's process must run as the same user (checked from its token,
// which also guards where the descriptor is not enforced, as under Wine),
// and a client checks that the pipe's server is the process it asked for.
#include "platform/win32/win32_util.h"

#include <cstdio>
#include <cwchar>
#include <new>
#include <tlhelp32.h>

#ifndef PIPE_REJECT_REMOTE_CLIENTS
#  define PIPE_REJECT_REMOTE_CLIENTS 0x00000008
#endif

namespace {

const DWORD PIPE_BUFFER = 65536;

// One pipe end with the event its overlapped operations signal.
struct conn_s {
    HANDLE pipe;
    HANDLE event;
};

struct listener_s {
    wchar_t name[64];
    SECURITY_DESCRIPTOR sd;
    SECURITY_ATTRIBUTES sa;
    ACL* acl;
    conn_s current;  // the instance waiting for the next client
};

void pipe_name(unsigned long pid, wchar_t* buf, size_t count) { swprintf(buf, count, L"\\\\.\\pipe\\katrace-%lu", pid); }

// The user SID of a token, in a buffer the caller frees with delete[].
TOKEN_USER* token_user(HANDLE token) {
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (size == 0) return nullptr;
    unsigned char* buf = new (std::nothrow) unsigned char[size];
    if (buf && !GetTokenInformation(token, TokenUser, buf, size, &size)) {
        delete[] buf;
        return nullptr;
    }
    return reinterpret_cast<TOKEN_USER*>(buf);
}

TOKEN_USER* process_user(HANDLE process) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return nullptr;
    TOKEN_USER* user = token_user(token);
    CloseHandle(token);
    return user;
}

// Whether process pid runs as the current user; false when it cannot be told.
bool same_user_process(unsigned long pid) {
    if (pid == GetCurrentProcessId()) return true;
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return false;
    TOKEN_USER* theirs = process_user(process);
    CloseHandle(process);
    TOKEN_USER* ours = process_user(GetCurrentProcess());
    const bool same = theirs && ours && EqualSid(theirs->User.Sid, ours->User.Sid);
    delete[] reinterpret_cast<unsigned char*>(theirs);
    delete[] reinterpret_cast<unsigned char*>(ours);
    return same;
}

// A security descriptor whose DACL has one entry: full access for the
// current user. Everyone else, administrators included, is denied.
bool user_only_security(listener_s* l) {
    TOKEN_USER* user = process_user(GetCurrentProcess());
    if (!user) return false;
    const DWORD size = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(user->User.Sid);
    l->acl = reinterpret_cast<ACL*>(new (std::nothrow) unsigned char[size]);
    bool ok = l->acl && InitializeAcl(l->acl, size, ACL_REVISION) &&
              AddAccessAllowedAce(l->acl, ACL_REVISION, GENERIC_ALL, user->User.Sid) &&
              InitializeSecurityDescriptor(&l->sd, SECURITY_DESCRIPTOR_REVISION) &&
              SetSecurityDescriptorDacl(&l->sd, TRUE, l->acl, FALSE);
    delete[] reinterpret_cast<unsigned char*>(user);
    l->sa.nLength = sizeof l->sa;
    l->sa.lpSecurityDescriptor = &l->sd;
    l->sa.bInheritHandle = FALSE;
    return ok;
}

void close_conn(conn_s* c) {
    if (c->pipe != INVALID_HANDLE_VALUE) CloseHandle(c->pipe);
    if (c->event) CloseHandle(c->event);
    c->pipe = INVALID_HANDLE_VALUE;
    c->event = nullptr;
}

bool create_instance(listener_s* l, bool first) {
    l->current.event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!l->current.event) return false;
    const DWORD open_mode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
    const DWORD pipe_mode = PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS;
    l->current.pipe = CreateNamedPipeW(l->name, open_mode, pipe_mode, PIPE_UNLIMITED_INSTANCES, PIPE_BUFFER,
                                       PIPE_BUFFER, 0, &l->sa);
    if (l->current.pipe != INVALID_HANDLE_VALUE) return true;
    const DWORD code = GetLastError();
    close_conn(&l->current);
    SetLastError(code);
    return false;
}

// Waits for an overlapped operation for up to timeout_ms; on timeout it is
// cancelled. The bytes transferred, or -1 (ERROR_OPERATION_ABORTED after a
// cancelled wait).
long finish(conn_s* c, OVERLAPPED* ov, unsigned timeout_ms) {
    if (WaitForSingleObject(c->event, timeout_ms) != WAIT_OBJECT_0) CancelIo(c->pipe);
    DWORD n = 0;
    if (!GetOverlappedResult(c->pipe, ov, &n, TRUE)) return -1;
    return static_cast<long>(n);
}

conn_s* to_conn(intptr_t h) { return h == PLAT_NO_ENDPOINT ? nullptr : reinterpret_cast<conn_s*>(h); }

}  // namespace

bool plat_control_endpoint(unsigned long pid, char* buf, size_t size) {
    if (!buf || size == 0) return false;
    const int n = snprintf(buf, size, "\\\\.\\pipe\\katrace-%lu", pid);
    if (n < 0 || static_cast<size_t>(n) >= size) {
        buf[0] = 0;
        return false;
    }
    return true;
}

intptr_t plat_control_listen(char* why, size_t why_size) {
    char dummy[1];
    if (!why || why_size == 0) why = dummy, why_size = sizeof dummy;
    why[0] = 0;
    listener_s* l = new (std::nothrow) listener_s();
    if (!l) {
        snprintf(why, why_size, "out of memory");
        return PLAT_NO_ENDPOINT;
    }
    l->current.pipe = INVALID_HANDLE_VALUE;
    pipe_name(plat_pid(), l->name, sizeof l->name / sizeof l->name[0]);
    char name[64];
    plat_control_endpoint(plat_pid(), name, sizeof name);
    if (!user_only_security(l)) {
        const DWORD code = GetLastError();
        snprintf(why, why_size, "cannot build a security descriptor for %s (error %lu)", name, code);
        delete[] reinterpret_cast<unsigned char*>(l->acl);
        delete l;
        SetLastError(code);
        return PLAT_NO_ENDPOINT;
    }
    // FILE_FLAG_FIRST_PIPE_INSTANCE refuses a name that is served already;
    // Wine ignores the flag, so a served name is also looked for first.
    if (WaitNamedPipeW(l->name, 1) || GetLastError() == ERROR_SEM_TIMEOUT) {
        SetLastError(ERROR_ACCESS_DENIED);
    } else if (create_instance(l, true)) {
        return reinterpret_cast<intptr_t>(l);
    }
    const DWORD code = GetLastError();
    snprintf(why, why_size, "cannot create the pipe %s (error %lu%s)", name, code,
             code == ERROR_ACCESS_DENIED ? ": the name is taken" : "");
    delete[] reinterpret_cast<unsigned char*>(l->acl);
    delete l;
    SetLastError(code);
    return PLAT_NO_ENDPOINT;
}

intptr_t plat_control_accept(intptr_t listener, unsigned timeout_ms) {
    if (listener == PLAT_NO_ENDPOINT) return PLAT_NO_ENDPOINT;
    listener_s* l = reinterpret_cast<listener_s*>(listener);
    if (l->current.pipe == INVALID_HANDLE_VALUE && !create_instance(l, false)) return PLAT_NO_ENDPOINT;
    conn_s* c = &l->current;
    OVERLAPPED ov = {};
    ov.hEvent = c->event;
    ResetEvent(c->event);
    bool connected = ConnectNamedPipe(c->pipe, &ov) != FALSE;
    if (!connected) {
        const DWORD code = GetLastError();
        if (code == ERROR_PIPE_CONNECTED) {
            connected = true;
        } else if (code == ERROR_IO_PENDING) {
            connected = finish(c, &ov, timeout_ms) >= 0;
        } else {
            DisconnectNamedPipe(c->pipe);  // a client that came and went
        }
    }
    if (!connected) return PLAT_NO_ENDPOINT;
    ULONG client = 0;
    const bool same = GetNamedPipeClientProcessId(c->pipe, &client) && same_user_process(client);
    conn_s* out = same ? new (std::nothrow) conn_s(*c) : nullptr;
    if (!out) {
        DisconnectNamedPipe(c->pipe);
        SetLastError(ERROR_ACCESS_DENIED);
        return PLAT_NO_ENDPOINT;
    }
    // The next instance exists before this one is handed out.
    c->pipe = INVALID_HANDLE_VALUE;
    c->event = nullptr;
    create_instance(l, false);
    return reinterpret_cast<intptr_t>(out);
}

void plat_control_close(intptr_t listener, bool remove) {
    (void)remove;  // a pipe leaves no file behind
    if (listener == PLAT_NO_ENDPOINT) return;
    listener_s* l = reinterpret_cast<listener_s*>(listener);
    close_conn(&l->current);
    delete[] reinterpret_cast<unsigned char*>(l->acl);
    delete l;
}

intptr_t plat_control_connect(unsigned long pid, unsigned timeout_ms) {
    wchar_t name[64];
    pipe_name(pid, name, sizeof name / sizeof name[0]);
    const unsigned long long deadline = plat_clock_ms() + timeout_ms;
    HANDLE h;
    // SECURITY_IDENTIFICATION: the server may learn who calls, not act as them.
    while ((h = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr)) ==
           INVALID_HANDLE_VALUE) {
        const unsigned long long now = plat_clock_ms();
        if (GetLastError() != ERROR_PIPE_BUSY || now >= deadline) return PLAT_NO_ENDPOINT;
        WaitNamedPipeW(name, deadline - now < 100 ? static_cast<DWORD>(deadline - now) : 100);
    }
    ULONG server = 0;
    if (GetNamedPipeServerProcessId(h, &server) && server != pid) {
        CloseHandle(h);
        SetLastError(ERROR_ACCESS_DENIED);
        return PLAT_NO_ENDPOINT;
    }
    conn_s* c = new (std::nothrow) conn_s;
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!c || !event) {
        CloseHandle(h);
        if (event) CloseHandle(event);
        delete c;
        return PLAT_NO_ENDPOINT;
    }
    c->pipe = h;
    c->event = event;
    return reinterpret_cast<intptr_t>(c);
}

int plat_conn_receive(intptr_t conn, void* buf, size_t size, unsigned timeout_ms) {
    conn_s* c = to_conn(conn);
    if (!c || !buf || size == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    const DWORD want = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(size);
    OVERLAPPED ov = {};
    ov.hEvent = c->event;
    ResetEvent(c->event);
    DWORD n = 0;
    if (ReadFile(c->pipe, buf, want, &n, &ov)) return n > 0 ? static_cast<int>(n) : -1;
    if (GetLastError() != ERROR_IO_PENDING) return -1;  // ERROR_BROKEN_PIPE: the peer closed
    const long got = finish(c, &ov, timeout_ms);
    if (got < 0) return GetLastError() == ERROR_OPERATION_ABORTED ? 0 : -1;
    return got > 0 ? static_cast<int>(got) : -1;
}

bool plat_conn_send(intptr_t conn, const void* data, size_t size, unsigned timeout_ms) {
    conn_s* c = to_conn(conn);
    if (!c || (!data && size)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    const char* p = static_cast<const char*>(data);
    const unsigned long long deadline = plat_clock_ms() + timeout_ms;
    while (size > 0) {
        const unsigned long long now = plat_clock_ms();
        if (now >= deadline) {
            SetLastError(ERROR_TIMEOUT);
            return false;
        }
        const DWORD piece = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
        OVERLAPPED ov = {};
        ov.hEvent = c->event;
        ResetEvent(c->event);
        DWORD n = 0;
        long wrote;
        if (WriteFile(c->pipe, p, piece, &n, &ov)) wrote = static_cast<long>(n);
        else if (GetLastError() == ERROR_IO_PENDING) wrote = finish(c, &ov, static_cast<unsigned>(deadline - now));
        else wrote = -1;
        if (wrote <= 0) return false;
        p += wrote;
        size -= static_cast<size_t>(wrote);
    }
    return true;
}

void plat_conn_close(intptr_t conn) {
    conn_s* c = to_conn(conn);
    if (!c) return;
    close_conn(c);
    delete c;
}

// Processes of the current user whose pipe exists (WaitNamedPipeW fails
// with ERROR_FILE_NOT_FOUND for a name nobody serves).
bool plat_control_list(plat_pid_visit_f visit, void* ctx) {
    if (!visit) return false;
    const HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32W e;
    e.dwSize = sizeof e;
    for (BOOL more = Process32FirstW(snap, &e); more; more = Process32NextW(snap, &e)) {
        wchar_t name[64];
        pipe_name(e.th32ProcessID, name, sizeof name / sizeof name[0]);
        if (!WaitNamedPipeW(name, 1) && GetLastError() != ERROR_SEM_TIMEOUT) continue;
        if (same_user_process(e.th32ProcessID)) visit(e.th32ProcessID, ctx);
    }
    CloseHandle(snap);
    return true;
}

bool plat_process_name(unsigned long pid, char* buf, size_t size) {
    if (!buf || size == 0) return false;
    buf[0] = 0;
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return false;
    wchar_t path[PLAT_MAX_PATH_UNITS + 1];
    DWORD n = PLAT_MAX_PATH_UNITS;
    const bool ok = QueryFullProcessImageNameW(process, 0, path, &n) != FALSE;
    CloseHandle(process);
    if (!ok) return false;
    const wchar_t* base = path;
    for (const wchar_t* p = path; *p; ++p)
        if (*p == L'\\' || *p == L'/') base = p + 1;
    return plat_utf8_out(base, buf, size);
}
