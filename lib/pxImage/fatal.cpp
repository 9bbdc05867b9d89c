// The one place where the library's fatal errors end up (printed and the
// program ended, or, inside pxCatchFatal, unwound back to the caller), and
// the one place its progress lines pass through.

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include <unistd.h>

#include "detail.h"
#include "parallel.h"

namespace px {
namespace {

// Depth of pxCatchFatal calls on this thread; 0 means fatal errors end the
// program.
thread_local int catchDepth = 0;

// The calling thread's message sink; NULL drops the messages.
thread_local PxMessageFn messageSink = pxPrintMessage;
thread_local void *messageData = nullptr;

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

bool sensibleMemory(double bytes)
{
    const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) return true;
    return bytes <= static_cast<double>(pages) * static_cast<double>(pageSize) / 4;
}

void requireMemory(double bytes, const char *what)
{
    if (!sensibleMemory(bytes))
        fatal(PX_FATAL_MEMORY, "%s would need %.0f MiB, more than a quarter of this machine's memory\n", what,
              bytes / (1 << 20));
}

namespace {

void sendMessage(std::FILE *byDefault, const char *fmt, std::va_list args)
{
    if (!messageSink) return;
    if (messageSink == pxPrintMessage) {
        // Straight to the stream, byte for byte what printf gives.
        std::vfprintf(byDefault, fmt, args);
    } else {
        std::string text = format(fmt, args);
        messageSink(text.c_str(), messageData);
    }
}

} // namespace

void message(const char *fmt, ...)
{
    std::va_list args;
    va_start(args, fmt);
    sendMessage(stdout, fmt, args);
    va_end(args);
}

void messageOnStderr(const char *fmt, ...)
{
    std::va_list args;
    va_start(args, fmt);
    sendMessage(stderr, fmt, args);
    va_end(args);
}

} // namespace px

extern "C" void pxPrintMessage(const char *text, void *) { std::fputs(text, stdout); }

extern "C" void pxSetMessageSink(PxMessageFn fn, void *data)
{
    px::messageSink = fn;
    px::messageData = data;
}

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
