// Netpbm image files: P2 (text grey), P5 (binary grey) and P6 (binary colour),
// the binary formats with one byte per sample up to a maximum of 255 and two
// big-endian bytes per sample above it.
//
// Everything that comes from a file is checked before it is used: the header
// fields, the image size and every value of a text body. Any failure prints a
// message naming the file and ends the program with status 1. The open file,
// the image being read and the raster are held by owners, so a failure caught
// by pxCatchFatal releases them all on the way out.

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <sys/stat.h>

#include "pxIO.h"
#include "pxImage/detail.h"

namespace {

constexpr int kMaxSample16 = 65535;   // largest two-byte sample
constexpr int kMaxSample8 = 255;      // largest one-byte sample
constexpr size_t kIoChunk = 1 << 16;  // bytes per buffered read
constexpr size_t kTextChunk = 1 << 20; // bytes of P2 text formatted per write

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};
using FileHandle = std::unique_ptr<FILE, FileCloser>;

struct ImageReleaser {
    void operator()(Image *img) const { pxReleaseImage(&img); }
};
using OwnedImage = std::unique_ptr<Image, ImageReleaser>;

inline bool isWhite(int c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

inline bool isDigit(int c) { return c >= '0' && c <= '9'; }

// Buffered bytes of a file: the header is parsed a character at a time and a
// P2 body a token at a time without a stdio call per character; a binary
// raster is handed out as one block.
class ByteReader {
public:
    explicit ByteReader(FILE *f) : f_(f), buf_(px::buffer<unsigned char>(kIoChunk)) {}

    int peek()
    {
        if (pos_ == len_ && !refill()) return EOF;
        return buf_[pos_];
    }

    int get()
    {
        if (pos_ == len_ && !refill()) return EOF;
        return buf_[pos_++];
    }

    // Copies up to n bytes into dst and returns how many there were.
    size_t readBlock(unsigned char *dst, size_t n)
    {
        size_t have = std::min(n, len_ - pos_);
        std::memcpy(dst, buf_.data() + pos_, have);
        pos_ += have;
        if (have < n) have += std::fread(dst + have, 1, n - have, f_);
        return have;
    }

    // Bytes of a regular file that are not read yet, or -1 when the file's
    // size cannot be known (a pipe, a device).
    long long remaining() const
    {
        struct stat st;
        if (::fstat(fileno(f_), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
        long long consumed = static_cast<long long>(std::ftell(f_)) - static_cast<long long>(len_ - pos_);
        return std::max(0LL, static_cast<long long>(st.st_size) - consumed);
    }

private:
    bool refill()
    {
        pos_ = 0;
        len_ = std::fread(buf_.data(), 1, buf_.size(), f_);
        return len_ > 0;
    }

    FILE *f_;
    std::vector<unsigned char> buf_;
    size_t pos_ = 0, len_ = 0;
};

// A '#' starts a comment that runs to the end of its line; comments may stand
// wherever white space may between header fields.
void skipSpaceAndComments(ByteReader &in)
{
    for (;;) {
        int c = in.peek();
        if (isWhite(c)) {
            in.get();
        } else if (c == '#') {
            while (c != EOF && c != '\n') c = in.get();
        } else {
            return;
        }
    }
}

enum class Field { Ok, Missing, NotNumber, OutOfRange };

// One header field: an optional sign and decimal digits, ended by white space,
// a comment or the end of the file (the ending character stays unread).
Field readHeaderInt(ByteReader &in, int &value)
{
    skipSpaceAndComments(in);
    int c = in.peek();
    if (c == EOF) return Field::Missing;
    bool negative = false, digits = false, numeric = true, tooLarge = false;
    long long magnitude = 0;
    bool first = true;
    while (c != EOF && !isWhite(c) && c != '#') {
        in.get();
        if (first && (c == '-' || c == '+')) {
            negative = c == '-';
        } else if (isDigit(c)) {
            digits = true;
            if (!tooLarge) {
                magnitude = magnitude * 10 + (c - '0');
                if (magnitude > static_cast<long long>(INT_MAX) + 1) tooLarge = true;
            }
        } else {
            numeric = false;
        }
        first = false;
        c = in.peek();
    }
    if (!numeric || !digits) return Field::NotNumber;
    long long v = negative ? -magnitude : magnitude;
    if (tooLarge || v > INT_MAX || v < INT_MIN) return Field::OutOfRange;
    value = static_cast<int>(v);
    return Field::Ok;
}

// The magic number: the first word of the file, at most a few characters
// long; a '#' ends it so that a comment may follow without white space.
void readMagic(ByteReader &in, char *word, size_t size)
{
    int c = in.get();
    while (isWhite(c)) c = in.get();
    size_t n = 0;
    while (c != EOF && !isWhite(c) && c != '#') {
        if (n + 1 < size) word[n++] = static_cast<char>(c);
        c = in.get();
    }
    word[n] = '\0';
    // The character that ended the word is white space (harmless to drop) or
    // the start of a comment, which the field reader must see.
    if (c == '#') {
        while (c != EOF && c != '\n') c = in.get();
    }
}

[[noreturn]] void failHeader(const char *name, const char *reason)
{
    px::fatal(PX_FATAL_FILE, "invalid header in file %s: %s\n", name, reason);
}

[[noreturn]] void failShortRead(const char *name, long long expected, long long got)
{
    px::fatal(PX_FATAL_FILE, "error reading file %s; expecting %lld pixels, read %lld\n", name,
              expected, got);
}

void checkField(Field r, const char *name, const char *missing, const char *notNumber,
                const char *outOfRange)
{
    if (r == Field::Missing) failHeader(name, missing);
    if (r == Field::NotNumber) failHeader(name, notNumber);
    if (r == Field::OutOfRange) failHeader(name, outOfRange);
}

// One P2 value: optional sign and digits, then white space or the end of the
// file. Gives false for anything else, including a value outside int.
inline bool readTextValue(ByteReader &in, int &value)
{
    int c = in.get();
    while (isWhite(c)) c = in.get();
    bool negative = false;
    if (c == '-' || c == '+') {
        negative = c == '-';
        c = in.get();
    }
    if (!isDigit(c)) return false;
    long long magnitude = 0;
    const long long limit = static_cast<long long>(INT_MAX) + (negative ? 1 : 0);
    while (isDigit(c)) {
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > limit) return false;
        c = in.get();
    }
    if (c != EOF && !isWhite(c)) return false;
    value = static_cast<int>(negative ? -magnitude : magnitude);
    return true;
}

void readTextBody(const char *name, ByteReader &in, Image *img)
{
    int *band = img->bands[0];
    int top = img->maxValue;
    for (int p = 0; p < img->npixels; ++p) {
        if (!readTextValue(in, band[p])) failShortRead(name, img->npixels, p);
        if (band[p] > top) top = band[p];
    }
    img->maxValue = top;
}

// Binary raster of nbands interleaved samples per pixel, one byte each up to a
// maximum of 255, two big-endian bytes above.
void readBinaryBody(const char *name, ByteReader &in, Image *img, bool wide)
{
    const size_t samples = static_cast<size_t>(img->npixels) * img->nbands;
    const size_t bytesPerSample = wide ? 2 : 1;
    const size_t bytes = samples * bytesPerSample;
    std::unique_ptr<unsigned char, decltype(&std::free)> block(
        static_cast<unsigned char *>(std::malloc(bytes)), &std::free);
    unsigned char *raster = block.get();
    if (!raster) px::fatal(PX_FATAL_MEMORY, "could not allocate memory!\n");
    size_t got = in.readBlock(raster, bytes);
    if (got < bytes)
        failShortRead(name, static_cast<long long>(samples), static_cast<long long>(got / bytesPerSample));
    const int nb = img->nbands;
    int top = img->maxValue;
    for (int b = 0; b < nb; ++b) {
        int *band = img->bands[b];
        const unsigned char *s = raster + b * bytesPerSample;
        const size_t stride = nb * bytesPerSample;
        for (int p = 0; p < img->npixels; ++p, s += stride) {
            int v = wide ? (s[0] << 8 | s[1]) : s[0];
            band[p] = v;
            if (v > top) top = v;
        }
    }
    img->maxValue = top;
}

// ---- writing ----------------------------------------------------------------

[[noreturn]] void failWrite(const char *name)
{
    px::fatal(PX_FATAL_FILE, "error writing image %s\n", name);
}

// Appends v as printf's "%5d " would: right-aligned in at least five
// characters, then one space. Returns the number of characters written (at
// most 12).
inline size_t formatField(char *out, int v)
{
    char digits[10];
    unsigned magnitude = v < 0 ? 0u - static_cast<unsigned>(v) : static_cast<unsigned>(v);
    int nd = 0;
    do {
        digits[nd++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    int width = nd + (v < 0 ? 1 : 0);
    size_t n = 0;
    for (int i = width; i < 5; ++i) out[n++] = ' ';
    if (v < 0) out[n++] = '-';
    while (nd) out[n++] = digits[--nd];
    out[n++] = ' ';
    return n;
}

void writeText(const char *name, FILE *f, Image *img)
{
    const int *band = img->bands[0];
    if (img->maxValue == 0) {
        int top = 0;
        for (int p = 0; p < img->npixels; ++p)
            if (band[p] > top) top = band[p];
        img->maxValue = top;
    }
    std::fprintf(f, "P2\n%d %d\n%d\n", img->ncols, img->nrows, img->maxValue);
    constexpr int kValuesPerLine = 16;
    constexpr size_t kMaxFieldAndNewline = 13;
    std::vector<char> text = px::buffer<char>(kTextChunk + kMaxFieldAndNewline);
    size_t len = 0;
    for (int p = 0; p < img->npixels; ++p) {
        len += formatField(text.data() + len, band[p]);
        if ((p + 1) % kValuesPerLine == 0) text[len++] = '\n';
        if (len >= kTextChunk) {
            if (std::fwrite(text.data(), 1, len, f) != len) failWrite(name);
            len = 0;
        }
    }
    if (len && std::fwrite(text.data(), 1, len, f) != len) failWrite(name);
}

// P5 or P6 from the first nbands bands; 8-bit samples keep the low 8 bits of
// each value, 16-bit samples are clamped to 0 .. 65535.
void writeBinary(const char *name, FILE *f, Image *img, int nbands, bool wide)
{
    const int npixels = img->npixels;
    int headerMax = kMaxSample8;
    if (wide) {
        // A 16-bit file must declare a maximum above 255 to keep two bytes per
        // sample, and at least the largest sample so that it reads back as
        // written.
        int top = img->maxValue;
        for (int b = 0; b < nbands; ++b)
            for (int p = 0; p < npixels; ++p)
                if (img->bands[b][p] > top) top = img->bands[b][p];
        headerMax = std::min(std::max(top, kMaxSample8 + 1), kMaxSample16);
    }
    std::fprintf(f, "%s\n%d %d\n%d\n", nbands == 1 ? "P5" : "P6", img->ncols, img->nrows,
                 headerMax);
    const size_t bytesPerSample = wide ? 2 : 1;
    const size_t bytes = static_cast<size_t>(npixels) * nbands * bytesPerSample;
    std::unique_ptr<unsigned char, decltype(&std::free)> block(
        static_cast<unsigned char *>(std::malloc(bytes)), &std::free);
    unsigned char *raster = block.get();
    if (!raster) px::fatal(PX_FATAL_MEMORY, "could not allocate memory!\n");
    const size_t stride = nbands * bytesPerSample;
    for (int b = 0; b < nbands; ++b) {
        const int *band = img->bands[b];
        unsigned char *d = raster + b * bytesPerSample;
        if (wide) {
            for (int p = 0; p < npixels; ++p, d += stride) {
                int v = std::min(std::max(band[p], 0), kMaxSample16);
                d[0] = static_cast<unsigned char>(v >> 8);
                d[1] = static_cast<unsigned char>(v & 0xff);
            }
        } else {
            for (int p = 0; p < npixels; ++p, d += stride)
                d[0] = static_cast<unsigned char>(band[p] & 0xff);
        }
    }
    if (std::fwrite(raster, 1, bytes, f) != bytes) failWrite(name);
}

} // namespace

extern "C" {

int pxReadImage(const char *name, Image **out)
{
    FileHandle file(std::fopen(name, "rb"));
    if (!file) {
        px::fatal(PX_FATAL_FILE, "could not open file %s\n", name);
    }
    ByteReader in(file.get());
    char magic[64];
    readMagic(in, magic, sizeof magic);
    int format = 0;
    if (std::strcmp(magic, "P2") == 0) format = 2;
    else if (std::strcmp(magic, "P5") == 0) format = 5;
    else if (std::strcmp(magic, "P6") == 0) format = 6;
    else px::fatal(PX_FATAL_FILE, "unknown file format; trying to read %s\n", magic);

    int ncols = 0, nrows = 0, maxval = 0;
    checkField(readHeaderInt(in, ncols), name, "missing width", "non-numeric width",
               "image too large");
    if (ncols < 1) failHeader(name, "width below 1");
    checkField(readHeaderInt(in, nrows), name, "missing height", "non-numeric height",
               "image too large");
    if (nrows < 1) failHeader(name, "height below 1");
    if (static_cast<long long>(ncols) * nrows > INT_MAX) failHeader(name, "image too large");
    checkField(readHeaderInt(in, maxval), name, "missing maximum value",
               "non-numeric maximum value", "maximum value out of range");
    if (format == 2 ? maxval < 0 : (maxval < 1 || maxval > kMaxSample16))
        failHeader(name, "maximum value out of range");

    // Exactly one white-space character ends the header; a comment right after
    // the maximum ends with its newline, which is that character.
    int c = in.peek();
    if (c == '#') {
        while (c != EOF && c != '\n') c = in.get();
    } else if (isWhite(c)) {
        in.get();
    }

    const bool wide = format != 2 && maxval > kMaxSample8;
    int type = 0, nbands = 1;
    switch (format) {
    case 2: type = PX_GREY_INT; break;
    case 5: type = wide ? PX_GREY16 : PX_GREY8; break;
    default: type = wide ? PX_COLOR16 : PX_COLOR8; nbands = 3; break;
    }
    // A body too short for the raster is reported before the raster is
    // allocated, so a header that claims a huge image costs no memory.
    const long long npixels = static_cast<long long>(ncols) * nrows;
    const long long left = in.remaining();
    if (left >= 0) {
        if (format == 2 && left < 2 * npixels - 1) {
            int value = 0;
            long long read = 0;
            while (read < npixels && readTextValue(in, value)) ++read;
            failShortRead(name, npixels, read);
        }
        const long long bytesPerSample = wide ? 2 : 1;
        if (format != 2 && left < npixels * nbands * bytesPerSample)
            failShortRead(name, npixels * nbands, left / bytesPerSample);
    }
    OwnedImage img(pxCreateImage(nbands, type, ncols, nrows));
    if (!img) failHeader(name, "image too large");
    img->maxValue = maxval;
    if (format == 2) readTextBody(name, in, img.get());
    else readBinaryBody(name, in, img.get(), wide);

    *out = img.release();
    return type;
}

void pxSaveImage(const char *name, Image *img)
{
    FileHandle file(std::fopen(name, "wb"));
    if (!file) {
        px::fatal(PX_FATAL_FILE, "could not open file %s for writing\n", name);
    }
    FILE *f = file.get();
    switch (img->type) {
    case PX_GREY8: writeBinary(name, f, img, 1, false); break;
    case PX_GREY_INT: writeText(name, f, img); break;
    case PX_COLOR8: writeBinary(name, f, img, 3, false); break;
    case PX_GREY16: writeBinary(name, f, img, 1, true); break;
    case PX_COLOR16: writeBinary(name, f, img, 3, true); break;
    default:
        std::fputs("Could not write image. Unknown type.", stderr);
        return;
    }
    // The close flushes the last buffer, so its failure is a failed write too.
    bool failed = std::ferror(f) != 0;
    if (std::fclose(file.release()) != 0) failed = true;
    if (failed) {
        px::fatal(PX_FATAL_FILE, "error writing image %s\n", name);
    }
}

} // extern "C"
