#pragma once
// Shared test fixtures: literal images, temporary folders, file contents and
// running the built programs with their output captured.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "ift.h"
#include "pxIO.h"
#include "pxImage.h"
#include "reference/common.h"

namespace testing_support {

inline std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline bool fileExists(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

inline void writeFile(const std::string &path, const std::string &content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

// A fresh folder under the system's temporary directory, removed at the end.
struct TempDir {
    std::string path;
    TempDir()
    {
        const char *base = std::getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/pxtest.XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        if (!::mkdtemp(buf.data())) std::abort();
        path = buf.data();
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    ~TempDir()
    {
        std::string cmd = "rm -rf '" + path + "'";
        if (std::system(cmd.c_str()) != 0) { /* best effort */ }
    }
    std::string file(const std::string &name) const { return path + "/" + name; }
};

struct RunResult {
    std::string out, err;
    int status = -1;        // exit status, or -1 when killed by a signal
    int signal = 0;         // the signal that ended it, if any
    bool timedOut = false;
};

// Runs argv[0] with the arguments in folder cwd; standard input is empty.
// A run that outlives timeoutSeconds is killed and reported as timed out.
inline RunResult runProgram(const std::vector<std::string> &argv, const std::string &cwd,
                            double timeoutSeconds = 60)
{
    RunResult res;
    std::string outPath = cwd + "/.stdout", errPath = cwd + "/.stderr";
    pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(cwd.c_str()) != 0) ::_exit(127);
        int in = ::open("/dev/null", O_RDONLY);
        int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        std::vector<char *> args;
        for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    int wstatus = 0;
    auto start = std::chrono::steady_clock::now();
    for (;;) {
        pid_t r = ::waitpid(pid, &wstatus, WNOHANG);
        if (r == pid) break;
        double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (elapsed > timeoutSeconds) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &wstatus, 0);
            res.timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (WIFEXITED(wstatus)) res.status = WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus)) res.signal = WTERMSIG(wstatus);
    res.out = readFile(outPath);
    res.err = readFile(errPath);
    ::unlink(outPath.c_str());
    ::unlink(errPath.c_str());
    return res;
}

// Paths baked in by the build.
inline std::string dataPath(const std::string &name) { return std::string(PX_DATA_DIR) + "/" + name; }
#ifdef PX_SOWER_PATH
inline std::string sowerPath() { return PX_SOWER_PATH; }
#endif
#ifdef PX_SIEVE_PATH
inline std::string sievePath() { return PX_SIEVE_PATH; }
#endif

// Sets the library's thread count for the length of a scope, then puts the
// previous setting back.
struct ScopedThreads {
    int previous;
    explicit ScopedThreads(int n) : previous(pxSetNumThreads(n)) {}
    ScopedThreads(const ScopedThreads &) = delete;
    ScopedThreads &operator=(const ScopedThreads &) = delete;
    ~ScopedThreads() { pxSetNumThreads(previous); }
};

// The thread counts every threaded operator is checked with against one
// thread: even, odd, and more threads than some images have rows.
inline const std::vector<int> &threadCountsToCompare()
{
    static const std::vector<int> counts{2, 3, 7};
    return counts;
}

// Runs f() inside pxCatchFatal: the fatal error's kind (0 for none), with its
// message (trailing newlines removed) in `message`.
template <class F>
int catchFatal(F &&f, std::string &message)
{
    char buf[512];
    int kind = pxCatchFatal([](void *arg) { (*static_cast<std::remove_reference_t<F> *>(arg))(); }, &f, buf,
                            sizeof buf);
    message = buf;
    return kind;
}

// Owner of a graph, released with destroyGraph.
struct GraphPtr {
    Graph *g;
    explicit GraphPtr(Graph *x) : g(x) {}
    GraphPtr(const GraphPtr &) = delete;
    GraphPtr &operator=(const GraphPtr &) = delete;
    ~GraphPtr() { destroyGraph(&g); }
    Graph *operator->() const { return g; }
    Graph *get() const { return g; }
};

// The (vertex, weight) pairs of vertex v's edge list, in list order.
using Edges = std::vector<std::pair<int, int>>;

inline Edges edgesOf(Graph *g, int v)
{
    Edges out;
    for (Edge *e = g->vertices[v].head; e; e = e->nextEdge) out.emplace_back(e->vertex, e->weight);
    return out;
}

} // namespace testing_support
