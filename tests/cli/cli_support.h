#pragma once
// Helpers for the program tests: small image files written in a temporary
// folder, and the expected output lines.

#include <string>
#include <vector>

#include "support.h"

namespace cli {

using namespace testing_support;

// A P5 file of the given size and bytes.
inline std::string p5(int ncols, int nrows, const std::vector<int> &values, int maxval = 255)
{
    std::string s = "P5\n" + std::to_string(ncols) + " " + std::to_string(nrows) + "\n" +
                    std::to_string(maxval) + "\n";
    for (int v : values) s.push_back(static_cast<char>(v));
    return s;
}

// A P2 file of the given size and values.
inline std::string p2(int ncols, int nrows, const std::vector<int> &values, int maxval = -1)
{
    int top = 0;
    for (int v : values) top = std::max(top, v);
    std::string s = "P2\n" + std::to_string(ncols) + " " + std::to_string(nrows) + "\n" +
                    std::to_string(maxval >= 0 ? maxval : top) + "\n";
    for (int v : values) s += std::to_string(v) + " ";
    s += "\n";
    return s;
}

// What the library's P5 writer produces for a type-1 image.
inline std::string p5Written(int ncols, int nrows, const std::vector<int> &values)
{
    return p5(ncols, nrows, values, 255);
}

// What the library's P2 writer produces: "%5d " fields, a newline after every
// 16th value, no final newline otherwise.
inline std::string p2Written(int ncols, int nrows, const std::vector<int> &values, int maxval)
{
    std::string s = "P2\n" + std::to_string(ncols) + " " + std::to_string(nrows) + "\n" +
                    std::to_string(maxval) + "\n";
    char field[32];
    for (size_t i = 0; i < values.size(); ++i) {
        std::snprintf(field, sizeof field, "%5d ", values[i]);
        s += field;
        if ((i + 1) % 16 == 0) s += "\n";
    }
    return s;
}

inline std::string rootsText(const std::vector<std::vector<int>> &lines)
{
    std::string s = std::to_string(lines.size()) + "\n";
    for (const auto &l : lines)
        s += std::to_string(l[0]) + " " + std::to_string(l[1]) + " " + std::to_string(l[2]) + "\n";
    return s;
}

// Roots file text of an in-memory seed set for an image of ncols columns.
inline std::string rootsText(const Roots *r, int ncols)
{
    std::string s = std::to_string(r->count) + "\n";
    for (int i = 0; i < r->count; ++i)
        s += std::to_string(r->pixel[i] % ncols) + " " + std::to_string(r->pixel[i] / ncols) + " " +
             std::to_string(r->label[i]) + "\n";
    return s;
}

inline std::string sowerUsage(const std::string &program)
{
    return "\n" + program + " <input image> <output roots file> <opt> [par(s)]\n"
           "valid <opt> values:\n"
           "\tregMax (regional maxima in [min, max]) : par(s) = min max\n"
           "\tregMin (regional minima in [min, max]) : par(s) = min max\n"
           "\tdt     (contour border of binary img)  : par(s) = none\n"
           "\tjoin   (joins two roots files)         : par(s) = <roots_file2>\n"
           "\tframe  (seeds are the frame pixels)    : par(s) = <uniform labels> <label, if uniform labels is selected>\n"
           "\tlabels (label image  -> seeds)         : par(s) = none\n"
           "\tcells  (seeds to extract cells)        : par(s) = none\n"
           "\n";
}

inline std::string sieveUsage(const std::string &program)
{
    return "Connected filtering application\n\n" + program +
           " [original] [reference levels] [isCuttingDomes] [isGlobal] <seeds file>\n"
           "isCuttingDomes = 1: cutting-off domes\n"
           "                 0: filling-up basins\n"
           "is Global = 1: reconstruction acts on all the image\n"
           "            0: reconstruction acts on specific valleys/domes\n"
           "\n";
}

} // namespace cli
