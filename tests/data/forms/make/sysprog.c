/* sysprog.c: a small multi-threaded program to be traced with strace.
 * Two threads and the main thread do reads, writes, nanosleep and futex
 * waits, so that strace -f prints "<unfinished ...>" / "<... resumed>" pairs.
 *
 *   sysprog [fork] [files DIR]
 *   fork:      also starts a child process (fork + wait4) that writes a line
 *   files DIR: also opens, reads and writes files in DIR, one of them with
 *              '<', '>', '"' and a space in its name, makes a pipe, a
 *              socketpair and a TCP connection on 127.0.0.1 (for strace -y/-yy)
 * At the end it writes "sysprog: done" to standard error.
 * Build: gcc -O2 -pthread -o sysprog sysprog.c
 */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static int pfd[2];
static pthread_mutex_t mu = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t cv = PTHREAD_COND_INITIALIZER;
static int ready;

static void nap_ms(long ms)
{
    struct timespec ts = {0, ms * 1000000L};
    nanosleep(&ts, NULL);
}

static void *producer(void *arg)
{
    (void)arg;
    for (int i = 0; i < 3; i++) {
        nap_ms(3);
        char msg[32];
        int n = snprintf(msg, sizeof msg, "tick <%d.5> \"q\"\n", i);
        if (write(pfd[1], msg, (size_t)n) < 0)
            perror("write");
    }
    pthread_mutex_lock(&mu);
    ready = 1;
    pthread_cond_signal(&cv);
    pthread_mutex_unlock(&mu);
    close(pfd[1]);
    return NULL;
}

static void *consumer(void *arg)
{
    (void)arg;
    char buf[64];
    ssize_t n;
    while ((n = read(pfd[0], buf, sizeof buf)) > 0) /* blocks: unfinished/resumed */
        if (write(STDOUT_FILENO, buf, (size_t)n) < 0)
            perror("write");
    return NULL;
}

static void files(const char *dir)
{
    char path[4096], buf[256];
    snprintf(path, sizeof path, "%s/odd <name> \"q\".txt", dir);
    int fd = open(path, O_CREAT | O_TRUNC | O_RDWR, 0644);
    if (fd < 0) {
        perror(path);
        return;
    }
    if (write(fd, "a <1.5> line\n", 13) < 0)
        perror("write");
    lseek(fd, 0, SEEK_SET);
    if (read(fd, buf, sizeof buf) < 0)
        perror("read");
    close(fd);
    fd = open("/etc/hostname", O_RDONLY);
    if (fd >= 0) {
        if (read(fd, buf, sizeof buf) < 0)
            perror("read");
        close(fd);
    }
    int sp[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, sp) == 0) {
        if (write(sp[0], "ping", 4) < 0 || read(sp[1], buf, sizeof buf) < 0)
            perror("socketpair");
        close(sp[0]);
        close(sp[1]);
    }
    int ls = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t al = sizeof a;
    if (ls >= 0 && bind(ls, (struct sockaddr *)&a, sizeof a) == 0 && listen(ls, 1) == 0 &&
        getsockname(ls, (struct sockaddr *)&a, &al) == 0) {
        int c = socket(AF_INET, SOCK_STREAM, 0);
        if (connect(c, (struct sockaddr *)&a, sizeof a) == 0) {
            int s = accept(ls, NULL, NULL);
            if (write(c, "hello", 5) < 0 || read(s, buf, sizeof buf) < 0)
                perror("tcp");
            close(s);
        }
        close(c);
    }
    if (ls >= 0)
        close(ls);
    unlink(path);
}

int main(int argc, char **argv)
{
    int do_fork = 0;
    const char *dir = NULL;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "fork") == 0)
            do_fork = 1;
        else if (strcmp(argv[i], "files") == 0 && i + 1 < argc)
            dir = argv[++i];
    }
    if (pipe(pfd) != 0) {
        perror("pipe");
        return 1;
    }
    pthread_t a, b;
    pthread_create(&b, NULL, consumer, NULL);
    pthread_create(&a, NULL, producer, NULL);
    pid_t child = -1;
    if (do_fork) {
        child = fork();
        if (child == 0) {
            nap_ms(2);
            static const char m[] = "child <pid> here\n";
            if (write(STDOUT_FILENO, m, sizeof m - 1) < 0)
                _exit(1);
            _exit(0);
        }
    }
    if (dir)
        files(dir);
    pthread_mutex_lock(&mu);
    while (!ready)
        pthread_cond_wait(&cv, &mu); /* futex wait */
    pthread_mutex_unlock(&mu);
    pthread_join(a, NULL);
    pthread_join(b, NULL);
    if (child > 0)
        waitpid(child, NULL, 0);
    static const char done[] = "sysprog: done\n";
    if (write(STDERR_FILENO, done, sizeof done - 1) < 0)
        return 1;
    return 0;
}
