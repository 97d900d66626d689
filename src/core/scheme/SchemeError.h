// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace tessarook {

// Why reading or writing a scheme file failed. kOk is success.
enum class SchemeError {
  kOk = 0,
  kUnexpectedFormat,  // "Unexpected file format." (a text or count runs past the end)
  kOpenFailed,        // "Failed to open document." (impossible length, other open failures)
  kSaveFailed,        // "Failed to save document." (a write failed)
  kInvalidFilename,   // "Invalid filename." (empty path, or a name the system refuses)
  kFileNotFound,      // "%1 was not found."
  kInvalidPath,       // "%1 contains an invalid path."
  kAccessDenied,      // "Access to %1 was denied."
  kSharingViolation,  // "A sharing violation occurred while accessing %1."
  kTooManyOpenFiles,  // "The file could not be opened because there are too many open files."
  kHardIo,            // "A hardware I/O error was reported while accessing %1."
  kDiskFull,          // "Disk full while accessing %1."
};

// The message the user sees for an error; %1 in the text is replaced by
// fileName (the path of the scheme file as the caller named it).
// kOk gives an empty text.
std::string SchemeErrorText(SchemeError error, std::string_view fileName);

// The error for a failed open(2)/creat of a scheme file, from its errno.
// forWriting chooses the fallback: kSaveFailed instead of kOpenFailed.
SchemeError SchemeErrorFromErrno(int err, bool forWriting);

}  // namespace tessarook
