/* Preloaded into a program that runs on the emulated controller. The emulated /dev nodes are plain files in
 * the testbed; stat() of their /dev path already reports the character device, but fstat() of an open one
 * does not, so hidapi could not learn the node's device number. This reports, for a descriptor open on a
 * testbed node, what stat() of its /dev path reports, as the kernel would.
 *
 * umockdev delivers a uevent to each program's udev monitor through a socket named after the number of the
 * monitor's netlink descriptor, so two programs on one bench whose monitors happen to get the same number
 * take each other's events. Here a netlink socket gets a number of its process's own instead, as every
 * process has its own sockets with the kernel. Everything else passes through. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

static void AsDeviceNode(int fd, struct stat* st)
{
    const char* root = getenv("UMOCKDEV_DIR");
    if (root == NULL || !S_ISREG(st->st_mode)) {
        return;
    }
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[4096];
    const ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0) {
        return;
    }
    target[n] = '\0';
    const size_t rootLength = strlen(root);
    if (strncmp(target, root, rootLength) != 0 || strncmp(target + rootLength, "/dev/", 5) != 0) {
        return;
    }
    struct stat node;
    if (stat(target + rootLength, &node) == 0 && (S_ISCHR(node.st_mode) || S_ISBLK(node.st_mode))) {
        st->st_mode = node.st_mode;
        st->st_rdev = node.st_rdev;
    }
}

int fstat(int fd, struct stat* st)
{
    static int (*next)(int, struct stat*);
    if (next == NULL) {
        next = (int (*)(int, struct stat*))dlsym(RTLD_NEXT, "fstat");
    }
    const int result = next(fd, st);
    if (result == 0) {
        AsDeviceNode(fd, st);
    }
    return result;
}

int fstat64(int fd, struct stat64* st)
{
    static int (*next)(int, struct stat64*);
    if (next == NULL) {
        next = (int (*)(int, struct stat64*))dlsym(RTLD_NEXT, "fstat64");
    }
    const int result = next(fd, st);
    if (result == 0) {
        /* On 64-bit Linux both structures have one layout. */
        _Static_assert(sizeof(struct stat) == sizeof(struct stat64), "stat and stat64 differ");
        AsDeviceNode(fd, (struct stat*)st);
    }
    return result;
}

int socket(int domain, int type, int protocol)
{
    static int (*next)(int, int, int);
    if (next == NULL) {
        next = (int (*)(int, int, int))dlsym(RTLD_NEXT, "socket");
    }
    if (domain != AF_NETLINK) {
        return next(domain, type, protocol);
    }
    /* The kernel gives the lowest free number: the numbers below this process's own are filled first. */
    enum { kBase = 64, kSpread = 512 };
    const int wanted = kBase + (int)(getpid() % kSpread);
    int placeholders[kBase + kSpread];
    int count = 0;
    const int source = fcntl(0, F_GETFD) >= 0 ? 0 : fcntl(1, F_GETFD) >= 0 ? 1 : 2;
    for (;;) {
        const int fd = fcntl(source, F_DUPFD_CLOEXEC, 0);
        if (fd < 0 || fd >= wanted) {
            if (fd >= 0) {
                close(fd);
            }
            break;
        }
        placeholders[count++] = fd;
    }
    const int result = next(domain, type, protocol);
    while (count > 0) {
        close(placeholders[--count]);
    }
    return result;
}
