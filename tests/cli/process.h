// Runs a program as a user would, and collects its exit status and both outputs.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include <atomic>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// For posix_spawn: the arguments, then a null; valid while `args` is.
inline std::vector<char*> Argv(std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    return argv;
}

// Where a program's standard output goes other than to a file the test reads.
struct StandardOutput {
    std::string path;     // opened for writing instead (/dev/full)
    int fd = -1;          // this descriptor instead (a pipe's end)
    bool closed = false;  // none at all
};

// Its outputs go through files in `scratch` (standard output elsewhere when `output` says so); standard input
// is empty.
inline Result RunProgram(std::vector<std::string> args, const std::string& scratch, const StandardOutput& output = {})
{
    static std::atomic<int> serial{0};
    const std::string tag = std::to_string(getpid()) + "-" + std::to_string(++serial);
    const std::string out = scratch + "/stdout-" + tag, err = scratch + "/stderr-" + tag;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (output.closed) {
        posix_spawn_file_actions_addclose(&actions, 1);
    } else if (output.fd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, output.fd, 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, output.path.empty() ? out.c_str() : output.path.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv = Argv(args);
    pid_t pid = -1;
    Result r;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    r.out = ReadFile(out);
    r.err = ReadFile(err);
    std::remove(out.c_str());
    std::remove(err.c_str());
    return r;
}

// A program left running, as a user at a terminal would have it: lines go to its standard input, signals
// to it, and what it has written so far can be read while it runs.
class RunningProgram {
public:
    RunningProgram(std::vector<std::string> args, const std::string& scratch)
    {
        static std::atomic<int> serial{0};
        const std::string tag = std::to_string(getpid()) + "-running-" + std::to_string(++serial);
        out_ = scratch + "/stdout-" + tag;
        err_ = scratch + "/stderr-" + tag;
        int pipeFds[2];
        if (pipe(pipeFds) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[0], 0);
        posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
        posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<char*> argv = Argv(args);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(pipeFds[0]);
        in_ = pipeFds[1];
    }
    ~RunningProgram()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            Finish();
        }
        if (in_ >= 0) {
            close(in_);
        }
    }
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    bool Started() const { return pid_ > 0; }
    void Say(const std::string& line)
    {
        [[maybe_unused]] ssize_t n = write(in_, (line + "\n").data(), line.size() + 1);
    }
    void Signal(int sig) { kill(pid_, sig); }
    std::string ErrSoFar() const { return ReadFile(err_); }
    std::string OutSoFar() const { return ReadFile(out_); }

    // Until `ready` holds of what the program has written to `file`, or about 20 s have passed.
    template <typename Ready>
    static bool AwaitFile(const std::string& file, Ready ready)
    {
        for (int i = 0; i < 4000; ++i) {
            if (ready(ReadFile(file))) {
                return true;
            }
            usleep(5000);
        }
        return false;
    }
    const std::string& ErrPath() const { return err_; }

    // Waits for it to end.
    Result Finish()
    {
        Result r;
        int status = 0;
        if (pid_ > 0 && waitpid(pid_, &status, 0) == pid_) {
            r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        pid_ = -1;
        r.out = ReadFile(out_);
        r.err = ReadFile(err_);
        std::remove(out_.c_str());
        std::remove(err_.c_str());
        return r;
    }

private:
    pid_t pid_ = -1;
    int in_ = -1;
    std::string out_, err_;
};
