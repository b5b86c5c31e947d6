/* Runs one program as a child and writes what it cost as one JSON line to the file given with -o, so
 * the child's own output stays untouched.
 *
 *   measure [-p] -o RESULT -- PROGRAM [ARGS...]
 *
 * Wall time comes from the monotonic clock around fork and wait4; CPU time and peak RSS from the
 * child's rusage (wait4). A tiny launcher matters for the peak: the kernel carries the pre-exec
 * address space's high-water mark into the child's ru_maxrss, so a large parent (Python, say) would
 * inflate every figure.
 *
 * With -p the launcher also polls /proc/PID/smaps_rollup while the child runs and reports the highest
 * Private_Dirty and Rss it saw. Polling reads the child's memory map under its lock and occupies a
 * core, so timings of a polled run are not used. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static long long nowMicroseconds(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (long long)now.tv_sec * 1000000LL + now.tv_nsec / 1000;
}

static long long microseconds(struct timeval value) {
    return (long long)value.tv_sec * 1000000LL + value.tv_usec;
}

/* Reads "Key:   123 kB" fields of smaps_rollup; returns 0 when the process is gone or already a zombie. */
static int sampleRollup(const char* path, long* privateDirty, long* rss) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char text[4096];
    ssize_t length = read(fd, text, sizeof text - 1);
    close(fd);
    if (length <= 0)
        return 0;
    text[length] = '\0';
    const char* dirty = strstr(text, "\nPrivate_Dirty:");
    const char* resident = strstr(text, "\nRss:");
    if (dirty == NULL || resident == NULL)
        return 0;
    *privateDirty = strtol(dirty + strlen("\nPrivate_Dirty:"), NULL, 10);
    *rss = strtol(resident + strlen("\nRss:"), NULL, 10);
    return 1;
}

int main(int argc, char** argv) {
    int poll = 0;
    const char* resultPath = NULL;
    int option;
    while ((option = getopt(argc, argv, "+po:")) != -1) {
        if (option == 'p')
            poll = 1;
        else if (option == 'o')
            resultPath = optarg;
        else
            return 64;
    }
    if (resultPath == NULL || optind >= argc) {
        fprintf(stderr, "usage: measure [-p] -o RESULT -- PROGRAM [ARGS...]\n");
        return 64;
    }
    FILE* result = fopen(resultPath, "w");
    if (result == NULL) {
        perror(resultPath);
        return 1;
    }

    long long start = nowMicroseconds();
    pid_t child = fork();
    if (child < 0) {
        perror("fork");
        return 1;
    }
    if (child == 0) {
        execvp(argv[optind], argv + optind);
        perror(argv[optind]);
        _exit(127);
    }

    long peakDirty = -1;
    long peakRss = -1;
    int status = 0;
    struct rusage usage;
    if (poll) {
        char path[64];
        snprintf(path, sizeof path, "/proc/%d/smaps_rollup", (int)child);
        for (;;) {
            pid_t done = wait4(child, &status, WNOHANG, &usage);
            if (done == child)
                break;
            if (done < 0 && errno != EINTR) {
                perror("wait4");
                return 1;
            }
            long dirty = 0;
            long rss = 0;
            if (sampleRollup(path, &dirty, &rss)) {
                if (dirty > peakDirty)
                    peakDirty = dirty;
                if (rss > peakRss)
                    peakRss = rss;
            }
            struct timespec pause = {0, 200000};
            nanosleep(&pause, NULL);
        }
    } else {
        while (wait4(child, &status, 0, &usage) < 0) {
            if (errno != EINTR) {
                perror("wait4");
                return 1;
            }
        }
    }
    long long wall = nowMicroseconds() - start;

    int exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    fprintf(result,
            "{\"exit\": %d, \"wall_us\": %lld, \"user_us\": %lld, \"sys_us\": %lld, \"maxrss_kib\": %ld, "
            "\"peak_private_dirty_kib\": %ld, \"peak_rss_sampled_kib\": %ld}\n",
            exitCode, wall, microseconds(usage.ru_utime), microseconds(usage.ru_stime), usage.ru_maxrss,
            peakDirty, peakRss);
    fclose(result);
    return 0;
}
