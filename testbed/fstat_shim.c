/* Preloaded into a program that runs on the emulated controller. The emulated /dev nodes are plain files in
 * the testbed; stat() of their /dev path already reports the character device, but fstat() of an open one
 * does not, so hidapi could not learn the node's device number. This reports, for a descriptor open on a
 * testbed node, what stat() of its /dev path reports, as the kernel would. Everything else passes through. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
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
