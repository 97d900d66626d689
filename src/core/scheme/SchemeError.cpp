// SPDX-License-Identifier: GPL-3.0-or-later
#include "scheme/SchemeError.h"

#include <cerrno>

namespace tessarook {

namespace {

std::string Substitute(std::string_view pattern, std::string_view fileName) {
  std::string text;
  const size_t at = pattern.find("%1");
  if (at == std::string_view::npos) return std::string(pattern);
  text.append(pattern.substr(0, at));
  text.append(fileName);
  text.append(pattern.substr(at + 2));
  return text;
}

}  // namespace

std::string SchemeErrorText(SchemeError error, std::string_view fileName) {
  switch (error) {
    case SchemeError::kOk:
      return {};
    case SchemeError::kUnexpectedFormat:
      return "Unexpected file format.";
    case SchemeError::kOpenFailed:
      return "Failed to open document.";
    case SchemeError::kSaveFailed:
      return "Failed to save document.";
    case SchemeError::kInvalidFilename:
      return "Invalid filename.";
    case SchemeError::kFileNotFound:
      return Substitute("%1 was not found.", fileName);
    case SchemeError::kInvalidPath:
      return Substitute("%1 contains an invalid path.", fileName);
    case SchemeError::kAccessDenied:
      return Substitute("Access to %1 was denied.", fileName);
    case SchemeError::kSharingViolation:
      return Substitute("A sharing violation occurred while accessing %1.", fileName);
    case SchemeError::kTooManyOpenFiles:
      return "The file could not be opened because there are too many open files.";
    case SchemeError::kHardIo:
      return Substitute("A hardware I/O error was reported while accessing %1.", fileName);
    case SchemeError::kDiskFull:
      return Substitute("Disk full while accessing %1.", fileName);
  }
  return "Failed to open document.";
}

SchemeError SchemeErrorFromErrno(int err, bool forWriting) {
  switch (err) {
    case ENOENT:
      // Writing: the file itself is created, so a missing name means a missing folder.
      return forWriting ? SchemeError::kInvalidPath : SchemeError::kFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return SchemeError::kInvalidPath;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return SchemeError::kAccessDenied;
    case EBUSY:
    case ETXTBSY:
      return SchemeError::kSharingViolation;
    case EMFILE:
    case ENFILE:
      return SchemeError::kTooManyOpenFiles;
    case EIO:
      return SchemeError::kHardIo;
    case ENOSPC:
    case EDQUOT:
      return SchemeError::kDiskFull;
    case EINVAL:
    case EILSEQ:
      return SchemeError::kInvalidFilename;
    default:
      return forWriting ? SchemeError::kSaveFailed : SchemeError::kOpenFailed;
  }
}

}  // namespace tessarook
