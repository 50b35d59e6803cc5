/* webcgi_bench_run N BODY PROGRAM: starts PROGRAM N times as a bare process, with this process's
 * environment (the CGI variables), the file BODY on standard input (or nothing for "-") and
 * standard output and error thrown away, as a web server would start it; prints, one line per
 * run, its wall time and the processor time (user + system) of the program, in microseconds. Exits non-zero when a run fails. Part of the webcgi
 * benchmark (bench/webcgi_bench.sh). */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

static long long now_us(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000000 + ts.tv_nsec / 1000;
}

int main(int argc, char **argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: webcgi_bench_run N BODY|- PROGRAM\n");
        return 2;
    }
    int runs = atoi(argv[1]);
    const char *body = argv[2];
    char *const args[] = {argv[3], NULL};
    for (int i = 0; i < runs; ++i) {
        long long start = now_us();
        pid_t pid = fork();
        if (pid < 0)
            return 1;
        if (pid == 0) {
            int in = strcmp(body, "-") == 0 ? open("/dev/null", O_RDONLY) : open(body, O_RDONLY);
            int out = open("/dev/null", O_WRONLY);
            if (in < 0 || out < 0)
                _exit(126);
            dup2(in, 0);
            dup2(out, 1);
            dup2(out, 2);
            execve(args[0], args, environ);
            _exit(127);
        }
        int status = 0;
        struct rusage usage;
        if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            fprintf(stderr, "webcgi_bench_run: %s failed (status %d)\n", args[0], status);
            return 1;
        }
        long long wall = now_us() - start;
        long long cpu = (long long)(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000 +
                        usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
        printf("%lld %lld\n", wall, cpu);
    }
    return 0;
}
