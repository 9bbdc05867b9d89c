// The one place where the library's fatal errors end up: printed and the
// program ended, or, inside pxCatchFatal, unwound back to the caller.

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "detail.h"
#include "parallel.h"

namespace px {
namespace {

// Depth of pxCatchFatal calls on this thread; 0 means fatal errors end the
// program.
thread_local int catchDepth = 0;

struct FatalError {
    int kind;
    std::string message;
};

[[noreturn]] void raise(int kind, std::string message, bool alreadyPrinted)
{
    if (catchDepth > 0) throw FatalError{kind, std::move(message)};
    if (!alreadyPrinted) std::fputs(message.c_str(), stderr);
    std::exit(1);
}

std::string format(const char *fmt, std::va_list args)
{
    std::va_list copy;
    va_copy(copy, args);
    char small[512];
    int n = std::vsnprintf(small, sizeof small, fmt, copy);
    va_end(copy);
    if (n < 0) return fmt;
    if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
    std::string out(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(&out[0], out.size(), fmt, args);
    out.resize(static_cast<size_t>(n));
    return out;
}

} // namespace

void fatal(int kind, const char *fmt, ...)
{
    std::va_list args;
    va_start(args, fmt);
    std::string message = format(fmt, args);
    va_end(args);
    raise(kind, std::move(message), false);
}

void fatalReported(int kind, const char *message) { raise(kind, message, true); }

bool catchingFatal() { return catchDepth > 0; }

} // namespace px

extern "C" int pxCatchFatal(PxGuardedFn fn, void *arg, char *message, int size)
{
    if (message && size > 0) message[0] = '\0';
    struct Depth {
        Depth() { ++px::catchDepth; }
        ~Depth() { --px::catchDepth; }
    } depth;
    std::string text;
    int kind = 0;
    try {
        fn(arg);
        return 0;
    } catch (px::FatalError &e) {
        kind = e.kind;
        text = std::move(e.message);
    } catch (const std::bad_alloc &) {
        kind = PX_FATAL_MEMORY;
        text = "Could not allocate memory!";
    }
    while (!text.empty() && text.back() == '\n') text.pop_back();
    if (message && size > 0) {
        size_t n = std::min(text.size(), static_cast<size_t>(size) - 1);
        std::memcpy(message, text.data(), n);
        message[n] = '\0';
    }
    return kind;
}

namespace px {

WorkerFatalScope::WorkerFatalScope() { ++catchDepth; }
WorkerFatalScope::~WorkerFatalScope() { --catchDepth; }

void rethrowOnCaller(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (FatalError &e) {
        raise(e.kind, std::move(e.message), false);
    }
}

} // namespace px
