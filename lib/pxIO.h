#pragma once
/* Image files: Netpbm P2 (text grey), P5 (binary grey) and P6 (binary colour),
 * with 8-bit or 16-bit big-endian samples in the binary formats. */

#include "pxImage.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Reads a P2, P5 or P6 file into a new image stored through *out and returns
 * its type code: 2 for P2, 1 for P5 and 3 for P6 with a maximum up to 255,
 * 4 and 5 for 16-bit P5 and P6. maxValue is the header's maximum, raised to
 * the largest sample when the data exceed it. Any unreadable, malformed or
 * truncated file ends the program with a message on stderr and status 1. */
int pxReadImage(const char *name, Image **out);

/* Writes img by its type: 1 as P5 (low 8 bits, maximum 255), 2 as P2 (setting
 * maxValue first when it is 0), 3 as P6 (low 8 bits), 4 and 5 as 16-bit P5 and
 * P6. Other types print a message and leave an empty file. A file that cannot
 * be opened or written ends the program with a message and status 1. */
void pxSaveImage(const char *name, Image *img);

#ifdef __cplusplus
}
#endif
