// SPDX-License-Identifier: GPL-3.0-or-later
#include "exchange/CsmFormat.h"

#include "scheme/SchemePaths.h"

namespace tessarook {

bool IsCarriableName(std::string_view name) {
  if (name.empty() || name.size() > kCsmMaxNameBytes) return false;
  if (name == "." || name == "..") return false;
  return !HasForbiddenNameChar(name);
}

void PutU32(unsigned char* out, uint32_t value) {
  out[0] = static_cast<unsigned char>(value);
  out[1] = static_cast<unsigned char>(value >> 8);
  out[2] = static_cast<unsigned char>(value >> 16);
  out[3] = static_cast<unsigned char>(value >> 24);
}

uint32_t GetU32(const unsigned char* in) {
  return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 |
         static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[3]) << 24;
}

int ExportExitCode(ExportResult result) {
  switch (result) {
    case ExportResult::kDone:
    case ExportResult::kStopped:
      return 0;
    case ExportResult::kCannotReadSource:
      return 2;
    case ExportResult::kCannotCreate:
    case ExportResult::kFileTooLarge:
    case ExportResult::kBadName:
    case ExportResult::kWriteFailed:
      return 1;
  }
  return 1;
}

int ImportExitCode(ImportResult result) {
  switch (result) {
    case ImportResult::kDone:
    case ImportResult::kStopped:
      return 0;
    case ImportResult::kCannotOpen:
    case ImportResult::kDamaged:
      return 1;
    case ImportResult::kCannotCreateScheme:
      return 2;
  }
  return 1;
}

const char* ExportMessage(ExportResult result) {
  switch (result) {
    case ExportResult::kDone:
    case ExportResult::kStopped:
      return nullptr;
    case ExportResult::kCannotCreate:
      return "Error creating compressed Scheme";
    case ExportResult::kCannotReadSource:
      return "Error reading source Scheme";
    case ExportResult::kFileTooLarge:
      return "The Scheme holds a file of 4 GB or more, which a compressed Scheme cannot carry. "
             "Nothing was written.";
    case ExportResult::kBadName:
      return "The Scheme's name holds characters a compressed Scheme cannot carry. "
             "Nothing was written.";
    case ExportResult::kWriteFailed:
      return "Error writing compressed Scheme";
  }
  return nullptr;
}

const char* ImportMessage(ImportResult result) {
  switch (result) {
    case ImportResult::kDone:
    case ImportResult::kStopped:
      return nullptr;
    case ImportResult::kCannotOpen:
      return "Error reading compressed Scheme";
    case ImportResult::kCannotCreateScheme:
      return "Error creating the Scheme";
    case ImportResult::kDamaged:
      return "The compressed Scheme is damaged or incomplete";
  }
  return nullptr;
}

}  // namespace tessarook
