// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/CsmFormat.h"
#include "exchange/ExchangeProgress.h"

namespace tessarook {

// Writes one Scheme of a My Schemes folder, with every file of its Backups folder and
// of the folders below it, into a Compressed Scheme file.
//
// The file is written under a temporary name beside the target and renamed over it only
// when complete, so a stop or a failure never leaves a partial .csm and never harms a
// file that was at the target before. Files are streamed in bounded chunks.
//
// A Backups file that cannot be opened when its turn comes (removed or made
// unreadable after the listing) is left out and the record count in the file is
// corrected, so the reader never meets a record that is not the file it names. Such
// files, and files whose names the reader would refuse, are listed in Skipped().
class CCsmWriter {
 public:
  explicit CCsmWriter(std::string schemesDir) : m_schemesDir(std::move(schemesDir)) {}

  // Not owned; may be null.
  void SetProgress(CExchangeProgress* progress) { m_progress = progress; }
  // How the job learns that it is to stop; asked on the job's thread at the stop points.
  // The flag is only read, never cleared.
  void SetStopCheck(std::function<bool()> stopRequested) { m_stop = std::move(stopRequested); }
  void SetStopFlag(const std::atomic<bool>* stop) {
    m_stop = stop ? std::function<bool()>([stop] { return stop->load(); }) : nullptr;
  }

  // Exports the Scheme `name` to `targetPath`. Runs on the calling thread.
  ExportResult Run(std::string_view name, const std::string& targetPath);

  // Splits the export worker's parameter "name|path" (the path ends at a second "|").
  static bool SplitParameter(std::string_view parameter, std::string& name, std::string& path);

  // After Run: records written, size of the finished file, Backups files left out.
  uint32_t Records() const { return m_records; }
  uint64_t Bytes() const { return m_bytes; }
  const std::vector<std::string>& Skipped() const { return m_skipped; }

 private:
  bool StopRequested() const { return m_stop && m_stop(); }

  std::string m_schemesDir;
  CExchangeProgress* m_progress = nullptr;
  std::function<bool()> m_stop;
  uint32_t m_records = 0;
  uint64_t m_bytes = 0;
  std::vector<std::string> m_skipped;
};

}  // namespace tessarook
