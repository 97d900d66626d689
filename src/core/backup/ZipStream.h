// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <minizip/ioapi.h>

namespace tessarook {

// The file functions the ZIP library writes archives through: plain file
// descriptors with a large write buffer, so that many small entries cost few
// system calls. Only regular files are opened, never blocking (a FIFO is
// refused, not waited on). A write error is remembered: every later write
// fails too, and so does closing the file.
void FillZipStreamFunctions(zlib_filefunc64_def* functions);

// The errno of the latest failure of these functions on this thread
// (0 when the latest failure was not a system error).
int ZipStreamLastErrno();

}  // namespace tessarook
