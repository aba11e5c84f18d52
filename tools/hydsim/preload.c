/* libhydpreload: tells the simulated instrument what a pseudo-terminal cannot carry.
 *
 * Loaded into the process under test (LD_PRELOAD on `wine` or on a native test, or linked in),
 * it wraps the calls that raise and clear line breaks and set the line (ioctl, tcsendbreak,
 * tcsetattr, tcflush: glibc's own functions do not go through ioctl) and reports them to hydsim
 * over its control socket, waiting for the answer, so the simulator has seen a break before the
 * call returns. Only calls on the simulator's pty (HYD_SIM_PTY) are reported, to HYD_SIM_CONTROL
 * (HOST:PORT); everything else passes straight through.
 *
 * A pty forgets parity and character size; a serial port keeps them. Hosts (Wine among them)
 * read the settings back and write them again, so the last parity and size set on the pty are put
 * back into what tcgetattr and TCGETS report.
 */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <dlfcn.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "line_speed.h"

/* The kernel's termios records as the TCSETS* ioctls take them; only the flag words and the
 * speeds of termios2 are read. */
struct hyd_kernel_termios2 {
    uint32_t c_iflag, c_oflag, c_cflag, c_lflag;
    unsigned char c_line;
    unsigned char c_cc[19];
    uint32_t c_ispeed, c_ospeed;
};
#define HYD_TCGETS2 _IOR('T', 0x2A, struct hyd_kernel_termios2)
#define HYD_TCSETS2 _IOW('T', 0x2B, struct hyd_kernel_termios2)
#define HYD_TCSETSW2 _IOW('T', 0x2C, struct hyd_kernel_termios2)
#define HYD_TCSETSF2 _IOW('T', 0x2D, struct hyd_kernel_termios2)
#ifndef BOTHER
#define BOTHER 0010000
#endif

typedef int (*ioctl_fn)(int, unsigned long, ...);
typedef int (*tcsetattr_fn)(int, int, const struct termios*);
typedef int (*tcsendbreak_fn)(int, int);
typedef int (*tcflush_fn)(int, int);
typedef int (*tcgetattr_fn)(int, struct termios*);

#define KEPT_BITS (PARENB | PARODD | CMSPAR | CSIZE)

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static int sock = -1;
static pid_t sock_pid;
static char sock_address[128];
static char pty_path[256];
static dev_t pty_dev;
static int pty_known;
static int kept_valid;
static tcflag_t kept_bits;

static void* next_symbol(const char* name) {
    return dlsym(RTLD_NEXT, name);
}

static long long now_ms(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

/* Is fd the simulator's pty? The path may change between tests of one process. */
static int is_sim_pty(int fd) {
    const char* path = getenv("HYD_SIM_PTY");
    if (!path || !*path || !getenv("HYD_SIM_CONTROL")) return 0;
    struct stat st;
    pthread_mutex_lock(&lock);
    if (strcmp(path, pty_path) != 0) {
        snprintf(pty_path, sizeof pty_path, "%s", path);
        pty_known = stat(path, &st) == 0 && S_ISCHR(st.st_mode);
        pty_dev = pty_known ? st.st_rdev : 0;
        kept_valid = 0;
    }
    int known = pty_known;
    dev_t dev = pty_dev;
    pthread_mutex_unlock(&lock);
    return known && fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == dev;
}

static int connect_control(const char* address) {
    char host[64];
    const char* colon = strrchr(address, ':');
    if (!colon || (size_t)(colon - address) >= sizeof host) return -1;
    memcpy(host, address, (size_t)(colon - address));
    host[colon - address] = '\0';
    struct sockaddr_in sa;
    memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_port = htons((uint16_t)atoi(colon + 1));
    if (inet_pton(AF_INET, host, &sa.sin_addr) != 1) return -1;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (connect(fd, (struct sockaddr*)&sa, sizeof sa) != 0) {
        close(fd);
        return -1;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

/* Sends one report line and waits (at most 3 s) for the simulator's answer line. */
static void report(const char* line) {
    int saved = errno;
    const char* address = getenv("HYD_SIM_CONTROL");
    if (!address) return;
    pthread_mutex_lock(&lock);
    if (sock >= 0 && (sock_pid != getpid() || strcmp(address, sock_address) != 0)) {
        if (sock_pid == getpid()) close(sock);
        sock = -1;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (sock < 0) {
            sock = connect_control(address);
            sock_pid = getpid();
            snprintf(sock_address, sizeof sock_address, "%s", address);
            if (sock < 0) break;
        }
        size_t len = strlen(line);
        if (send(sock, line, len, MSG_NOSIGNAL) == (ssize_t)len) {
            char c = 0;
            int got_line = 0;
            for (;;) {
                struct pollfd p = {sock, POLLIN, 0};
                if (poll(&p, 1, 3000) <= 0) break;
                if (recv(sock, &c, 1, 0) != 1) break;
                if (c == '\n') {
                    got_line = 1;
                    break;
                }
            }
            if (got_line) break;
        }
        close(sock);
        sock = -1;
    }
    pthread_mutex_unlock(&lock);
    errno = saved;
}

static void keep(tcflag_t cflag) {
    pthread_mutex_lock(&lock);
    kept_bits = cflag & KEPT_BITS;
    kept_valid = 1;
    pthread_mutex_unlock(&lock);
}

static tcflag_t restore(tcflag_t cflag) {
    pthread_mutex_lock(&lock);
    if (kept_valid) cflag = (cflag & ~(tcflag_t)KEPT_BITS) | kept_bits;
    pthread_mutex_unlock(&lock);
    return cflag;
}

static void report_line(tcflag_t cflag, int baud) {
    keep(cflag);
    char parity = 'N';
    if (cflag & PARENB) {
        if (cflag & CMSPAR)
            parity = (cflag & PARODD) ? 'M' : 'S';
        else
            parity = (cflag & PARODD) ? 'O' : 'E';
    }
    int data = 8;
    switch (cflag & CSIZE) {
    case CS5:
        data = 5;
        break;
    case CS6:
        data = 6;
        break;
    case CS7:
        data = 7;
        break;
    default:
        data = 8;
        break;
    }
    char line[96];
    snprintf(line, sizeof line, "host line %d %c %d %d\n", baud, parity, (cflag & CSTOPB) ? 2 : 1,
             data);
    report(line);
}

int ioctl(int fd, unsigned long request, ...) {
    static ioctl_fn real;
    if (!real) real = (ioctl_fn)next_symbol("ioctl");
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    long long started = 0;
    if (request == TCSBRK || request == TCSBRKP) started = now_ms();
    int r = real(fd, request, arg);
    if (r != 0 || !is_sim_pty(fd)) return r;
    int saved = errno;
    char line[64];
    switch (request) {
    case TIOCSBRK:
        report("host break on\n");
        break;
    case TIOCCBRK:
        report("host break off\n");
        break;
    case TCSBRK:
        /* A non-zero argument is tcdrain, not a break. */
        if ((long)arg == 0) {
            snprintf(line, sizeof line, "host pulse %lld\n", now_ms() - started);
            report(line);
        }
        break;
    case TCSBRKP:
        snprintf(line, sizeof line, "host pulse %lld\n", now_ms() - started);
        report(line);
        break;
    case TCSETS:
    case TCSETSW:
    case TCSETSF: {
        const struct hyd_kernel_termios2* t = arg;
        tcflag_t cflag = t->c_cflag;
        report_line(cflag, hydsim_baud_of(cflag & (CBAUD | CBAUDEX)));
        break;
    }
    case HYD_TCSETS2:
    case HYD_TCSETSW2:
    case HYD_TCSETSF2: {
        const struct hyd_kernel_termios2* t = arg;
        tcflag_t cflag = t->c_cflag;
        int baud = (cflag & CBAUD) == BOTHER ? (int)t->c_ospeed : hydsim_baud_of(cflag & CBAUD);
        report_line(cflag, baud);
        break;
    }
    case TCFLSH:
        snprintf(line, sizeof line, "host purge %ld\n", (long)arg);
        report(line);
        break;
    case TCGETS:
    case HYD_TCGETS2: {
        struct hyd_kernel_termios2* t = arg;
        t->c_cflag = restore(t->c_cflag);
        break;
    }
    default:
        break;
    }
    errno = saved;
    return r;
}

int tcgetattr(int fd, struct termios* t) {
    static tcgetattr_fn real;
    if (!real) real = (tcgetattr_fn)next_symbol("tcgetattr");
    int r = real(fd, t);
    if (r == 0 && t && is_sim_pty(fd)) t->c_cflag = restore(t->c_cflag);
    return r;
}

int tcsetattr(int fd, int action, const struct termios* t) {
    static tcsetattr_fn real;
    if (!real) real = (tcsetattr_fn)next_symbol("tcsetattr");
    int r = real(fd, action, t);
    if (!t || !is_sim_pty(fd)) return r;
    if (r != 0 && errno == EINVAL) {
        /* glibc reads the line back and calls it invalid when parity or size did not stick,
         * which on a pty they never do. The settings were applied if the rest matches. */
        static tcgetattr_fn real_get;
        if (!real_get) real_get = (tcgetattr_fn)next_symbol("tcgetattr");
        struct termios now;
        tcflag_t mask = ~(tcflag_t)(KEPT_BITS | CREAD);
        if (real_get(fd, &now) == 0 && (now.c_cflag & mask) == (t->c_cflag & mask))
            r = 0;
        else
            errno = EINVAL;
    }
    if (r == 0) report_line(t->c_cflag, hydsim_baud_of(cfgetospeed(t)));
    return r;
}

int tcsendbreak(int fd, int duration) {
    static tcsendbreak_fn real;
    if (!real) real = (tcsendbreak_fn)next_symbol("tcsendbreak");
    long long started = now_ms();
    int r = real(fd, duration);
    if (r == 0 && is_sim_pty(fd)) {
        char line[64];
        snprintf(line, sizeof line, "host pulse %lld\n", now_ms() - started);
        report(line);
    }
    return r;
}

int tcflush(int fd, int queue) {
    static tcflush_fn real;
    if (!real) real = (tcflush_fn)next_symbol("tcflush");
    int r = real(fd, queue);
    if (r == 0 && is_sim_pty(fd)) {
        char line[64];
        snprintf(line, sizeof line, "host purge %d\n", queue);
        report(line);
    }
    return r;
}
