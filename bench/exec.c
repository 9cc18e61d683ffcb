/* Runs a command and writes its peak resident memory in KiB to a file:
     bench_exec <file> <program> [args...]
   The command is forked from this small static launcher, so its peak starts from the
   launcher's memory, not from that of the benchmark that started the launcher. */
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 3) return 127;
    pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[2], argv + 2);
        _exit(127);
    }
    int status = 0;
    struct rusage ru;
    if (pid < 0 || wait4(pid, &status, 0, &ru) != pid) return 127;
    FILE* f = fopen(argv[1], "w");
    if (f != NULL) {
        fprintf(f, "%ld\n", ru.ru_maxrss);
        fclose(f);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 127;
}
