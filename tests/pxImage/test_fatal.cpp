#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support.h"

using namespace testing_support;

namespace {

struct ReadCall {
    std::string path;
    Image *img = nullptr;
};

void readGuarded(void *arg)
{
    auto *call = static_cast<ReadCall *>(arg);
    pxReadImage(call->path.c_str(), &call->img);
}

int catchRead(const std::string &path, std::string &message, Image **img = nullptr)
{
    ReadCall call{path};
    char buf[256];
    int kind = pxCatchFatal(readGuarded, &call, buf, sizeof buf);
    message = buf;
    if (img) *img = call.img;
    else pxReleaseImage(&call.img);
    return kind;
}

} // namespace

// A fatal error inside pxCatchFatal comes back as a kind and a message instead
// of ending the process; the sanitizer build also checks that the reader's
// half-built image is released on the way out.
TEST(FatalErrors, CaughtErrorsReturnKindAndMessage)
{
    TempDir dir;
    std::string message;
    EXPECT_EQ(catchRead(dir.file("missing.pgm"), message), PX_FATAL_FILE);
    EXPECT_EQ(message, "could not open file " + dir.file("missing.pgm"));

    writeFile(dir.file("short.pgm"), "P2\n3 2\n255\n1 2 3 4\n");
    EXPECT_EQ(catchRead(dir.file("short.pgm"), message), PX_FATAL_FILE);
    EXPECT_EQ(message, "error reading file " + dir.file("short.pgm") + "; expecting 6 pixels, read 4");

    writeFile(dir.file("short.pgm"), "P5\n4 4\n255\nabc");
    EXPECT_EQ(catchRead(dir.file("short.pgm"), message), PX_FATAL_FILE);

    writeFile(dir.file("ok.pgm"), "P2\n2 1\n9\n1 2\n");
    Image *img = nullptr;
    EXPECT_EQ(catchRead(dir.file("ok.pgm"), message, &img), 0);
    EXPECT_EQ(message, "");
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(bandValues(img), (std::vector<int>{1, 2}));
    pxReleaseImage(&img);
}

TEST(FatalErrors, NestedCatchersAndTruncatedMessages)
{
    struct Outer {
        int innerKind = -1;
        char innerMessage[8];
    } outer;
    auto outerFn = [](void *arg) {
        auto *o = static_cast<Outer *>(arg);
        ReadCall call{"/nonexistent/dir/x.pgm"};
        o->innerKind = pxCatchFatal(readGuarded, &call, o->innerMessage, sizeof o->innerMessage);
        // Still guarded after the inner catcher returned.
        pxReadImage("/nonexistent/dir/y.pgm", &call.img);
    };
    char message[128];
    EXPECT_EQ(pxCatchFatal(outerFn, &outer, message, sizeof message), PX_FATAL_FILE);
    EXPECT_EQ(outer.innerKind, PX_FATAL_FILE);
    EXPECT_STREQ(outer.innerMessage, "could n");
    EXPECT_STREQ(message, "could not open file /nonexistent/dir/y.pgm");
    EXPECT_EQ(pxCatchFatal(outerFn, &outer, nullptr, 0), PX_FATAL_FILE);
}

TEST(FatalErrorsDeathTest, UncaughtErrorsStillEndTheProgram)
{
    EXPECT_EXIT(
        {
            Image *img = nullptr;
            pxReadImage("/nonexistent/dir/x.pgm", &img);
        },
        testing::ExitedWithCode(1), "could not open file /nonexistent/dir/x.pgm");
}

namespace {

int openDescriptors()
{
    int n = 0;
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++n;
    }
    return n;
}

struct RootsCall {
    std::string path;
    Image *img;
};

void readRootsGuarded(void *arg)
{
    auto *call = static_cast<RootsCall *>(arg);
    Roots *roots = ifReadRoots(call->path.c_str(), call->img);
    if (roots) ifReleaseRoots(roots);
    std::free(roots);
}

} // namespace

// A caught failure of either reader closes the file it had opened (and the
// sanitizer build checks that no memory is left behind), whatever the failure.
TEST(FatalErrors, CaughtReadErrorsCloseTheirFiles)
{
    TempDir dir;
    ImagePtr img = makeImage(3, 2, {1, 2, 3, 4, 5, 6});
    const std::vector<std::pair<std::string, std::string>> images = {
        {"magic.pgm", "P7\n1 1\n1\n"},      {"header.pgm", "P5\n3 x\n255\n"},
        {"text.pgm", "P2\n3 2\n9\n1 2 x\n"}, {"binary.ppm", "P6\n2 2\n255\nabc"},
        {"huge.pgm", "P5\n60000 60000\n255\n\x01"}};
    const std::vector<std::pair<std::string, std::string>> roots = {
        {"word.txt", "3\n0 0 1\n1 y 2\n"},
        {"outside.txt", "2\n0 0 1\n3 0 2\n"},
        {"short.txt", "4\n0 0 1\n"}};
    for (const auto &f : images) writeFile(dir.file(f.first), f.second);
    for (const auto &f : roots) writeFile(dir.file(f.first), f.second);

    const int before = openDescriptors();
    std::string message;
    for (int round = 0; round < 3; ++round) {
        for (const auto &f : images) EXPECT_EQ(catchRead(dir.file(f.first), message), PX_FATAL_FILE) << f.first;
        for (const auto &f : roots) {
            RootsCall call{dir.file(f.first), img.get()};
            EXPECT_EQ(pxCatchFatal(readRootsGuarded, &call, nullptr, 0), PX_FATAL_FILE) << f.first;
        }
    }
    EXPECT_EQ(openDescriptors(), before);
}

// Progress lines reach the thread's sink formatted, one call per message;
// NULL drops them, pxPrintMessage prints them again, and another thread keeps
// its own sink.
TEST(ProgressMessages, GoToTheCallingThreadsSink)
{
    ImagePtr bin = makeImage(4, 3, {0, 1, 1, 0, 0, 0, 1, 0, 1, 0, 0, 0});
    ImagePtr label(pxCreateImage(1, PX_GREY_INT, 4, 3));
    std::string lines;
    pxSetMessageSink([](const char *text, void *out) { static_cast<std::string *>(out)->append(text); }, &lines);
    testing::internal::CaptureStdout();
    ifLabelImage(bin.get(), label.get());
    std::thread([&] { ifLabelImage(bin.get(), label.get()); }).join();
    pxSetMessageSink(nullptr, nullptr);
    ifLabelImage(bin.get(), label.get());
    pxSetMessageSink(pxPrintMessage, nullptr);
    ifLabelImage(bin.get(), label.get());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "in ifLabelImage\nin ifLabelImage\n");
    EXPECT_EQ(lines, "in ifLabelImage\n");
}
