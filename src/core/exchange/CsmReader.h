// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "exchange/CsmFormat.h"
#include "exchange/ExchangeProgress.h"

namespace tessarook {

// What a well-formed .csm holds, found without writing anything.
struct CsmSummary {
  std::string name;          // the Scheme's name
  uint32_t schemeBytes = 0;  // size of the scheme file
  uint32_t records = 0;      // number of carried files
};

// Reads a Compressed Scheme file into a My Schemes folder: the scheme file
// "<name>.tsbak" and its Backups folder "<name>.tsbak.backups".
//
// The whole file is checked first (every length against the file's size, every name
// usable as a plain file name); a malformed file changes nothing on disk. The Scheme is
// then built in a hidden staging folder inside the My Schemes folder and moved into place
// only when complete, so a stop or a failure leaves an existing Scheme of that name as it
// was. On success the scheme file is replaced; carried files replace files of the same
// name in the Backups folder and other files there stay. Two records of one name: the
// later wins.
class CCsmReader {
 public:
  explicit CCsmReader(std::string schemesDir) : m_schemesDir(std::move(schemesDir)) {}

  // Not owned; may be null.
  void SetProgress(CExchangeProgress* progress) { m_progress = progress; }
  // How the job learns that it is to stop; asked on the job's thread at the stop points.
  // The flag is only read, never cleared.
  void SetStopCheck(std::function<bool()> stopRequested) { m_stop = std::move(stopRequested); }
  void SetStopFlag(const std::atomic<bool>* stop) {
    m_stop = stop ? std::function<bool()>([stop] { return stop->load(); }) : nullptr;
  }

  // Imports the file at `csmPath`. Runs on the calling thread.
  ImportResult Run(const std::string& csmPath);

  // Checks the whole file and reports its Scheme name and counts: kDone, kCannotOpen or
  // kDamaged. Used before an import to learn the name (and to ask about overwriting).
  static ImportResult Inspect(const std::string& csmPath, CsmSummary& summary);

  // After Run: the imported Scheme's name, the records written, and the carried files
  // that could not be placed in the Backups folder (for example because a folder of that
  // name is there).
  const std::string& Name() const { return m_name; }
  uint32_t Records() const { return m_records; }
  const std::vector<std::string>& Skipped() const { return m_skipped; }

 private:
  bool StopRequested() const { return m_stop && m_stop(); }

  std::string m_schemesDir;
  CExchangeProgress* m_progress = nullptr;
  std::function<bool()> m_stop;
  std::string m_name;
  uint32_t m_records = 0;
  std::vector<std::string> m_skipped;
};

}  // namespace tessarook
