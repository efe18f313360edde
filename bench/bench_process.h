// bench_process.h - runs a program as a whole process for a benchmark: no
// shell, posix_spawn rather than fork (copying the page tables of a
// benchmark that holds a large catalog would be charged to the program),
// its standard output read through a pipe, kept, counted or discarded.
// The time runs from the spawn to the child's exit, output read included.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

extern char **environ;

enum class TOutput { Keep, Count, Discard };

struct TProcessRun {
    bool started = false;
    double seconds = -1;
    std::string output;    // TOutput::Keep
    long long lines = 0;   // TOutput::Count
    int status = 127 << 8; // waitpid's status
};

// `quietErrors`: the program's standard error goes to /dev/null.
inline TProcessRun RunProcess(const std::vector<std::string> &argv, TOutput output, bool quietErrors = false)
{
    TProcessRun run;
    int fds[2];
    if (pipe(fds) != 0)
        return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output == TOutput::Discard)
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    else
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    if (quietErrors)
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    run.started = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    char buffer[1 << 16];
    ssize_t got;
    while (run.started && (got = read(fds[0], buffer, sizeof buffer)) > 0) {
        if (output == TOutput::Keep)
            run.output.append(buffer, static_cast<size_t>(got));
        else
            run.lines += std::count(buffer, buffer + got, '\n');
    }
    close(fds[0]);
    if (run.started)
        waitpid(pid, &run.status, 0);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return run;
}
