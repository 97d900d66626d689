// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/BackupVerifier.h"

#include <algorithm>
#include <memory>

#include "backup/BackupArchive.h"
#include "backup/ByteMeter.h"
#include "backup/ReaderWorkers.h"
#include "backup/RestorePath.h"

namespace tessarook {

namespace {

// The position an entry name stands for, or -1 when it is not a plain
// decimal number (no sign, no leading zero).
int64_t PositionOf(const std::string& name) {
  if (name.empty() || name.size() > 18 || (name.size() > 1 && name[0] == '0')) return -1;
  int64_t v = 0;
  for (char c : name) {
    if (c < '0' || c > '9') return -1;
    v = v * 10 + (c - '0');
  }
  return v;
}

// The bytes of the file one entry occupies.
struct Span {
  uint64_t begin = 0;
  uint64_t end = 0;
  int64_t entry = -1;
};

// How the test of one position went. The span is where the entry lay, read
// by the worker that tested it (its end is where the data really ended).
struct Tested {
  bool ok = false;
  bool cancelled = false;
  bool haveSpan = false;
  Span span;
  std::string reason;
};

// Which entry stands for each position (-1 for none); strays and doubles
// are faults.
std::vector<int64_t> MapPositions(CBackupArchive& archive, int64_t manifest, VerifyResult& result) {
  const uint64_t n = archive.paths.size();
  std::vector<int64_t> entryOf(n, -1);
  const int64_t count = archive.GetEntryCount();
  for (int64_t i = 0; i < count; ++i) {
    const std::string name = archive.GetEntryName(i);
    if (i == manifest) continue;
    const int64_t pos = PositionOf(name);
    if (pos < 0 || static_cast<uint64_t>(pos) >= n) {
      result.faults.push_back({-1, name, "entry not listed in the manifest"});
    } else if (entryOf[static_cast<size_t>(pos)] >= 0) {
      result.faults.push_back({pos, archive.paths[static_cast<size_t>(pos)], "entry stored twice"});
    } else {
      entryOf[static_cast<size_t>(pos)] = i;
    }
  }
  return entryOf;
}

// What the steps that test the entries share.
struct VerifyRun {
  CBackupArchive& archive;
  const std::vector<int64_t>& entryOf;
  const std::atomic<bool>* cancel;
  IProgressSink* sink;
  CByteMeter& bytes;
  VerifyResult& result;
};

// Tests the data of the entry (-1 for none) standing for one position.
Tested TestPosition(CZipFile& reader, int64_t entry, const std::atomic<bool>* cancel) {
  Tested t;
  if (cancel && cancel->load()) {
    t.cancelled = true;
  } else if (entry >= 0) {
    t.ok = reader.TestEntry(entry, t.reason);
    t.cancelled = !t.ok && cancel && cancel->load();
    t.haveSpan = reader.GetEntrySpan(entry, t.span.begin, t.span.end);
    t.span.entry = entry;
  }
  return t;
}

// Records the faults of one tested position: a path that cannot be restored
// anywhere, a missing entry, or data that failed its test.
void ReportPosition(VerifyRun& run, uint64_t pos, const Tested& t) {
  const int64_t entry = run.entryOf[static_cast<size_t>(pos)];
  const std::string& source = run.archive.paths[static_cast<size_t>(pos)];
  if (!CanRestoreSomewhere(source))
    run.result.faults.push_back({static_cast<int64_t>(pos), source, RestoreRefusal(source, false)});
  if (entry < 0) {
    run.result.faults.push_back({static_cast<int64_t>(pos), source, "entry missing"});
  } else if (!t.ok) {
    run.result.faults.push_back({static_cast<int64_t>(pos), source, t.reason});
  }
}

// Tests every position's entry into `tested` and reports the outcomes in
// position order. False when a cancel stopped it.
//
// The entries are tested by several workers at once, each with an archive
// object of its own (its own open of the file); this thread reports the
// outcomes in position order and makes every sink call. Memory per worker:
// one archive reader (see CZipReader) and a copy of the directory.
bool TestEntries(VerifyRun& run, unsigned jobs, std::vector<Tested>& tested) {
  CBackupArchive& archive = run.archive;
  const std::atomic<bool>* cancel = run.cancel;
  const uint64_t n = archive.paths.size();
  const unsigned wanted = WorkerCount(jobs, n);
  std::vector<std::unique_ptr<CZipFile>> readers;
  if (wanted > 1) readers = OpenReaders<CZipFile>(archive, wanted);
  // Everything the workers touch is declared before them: the workers are
  // joined when `workers` goes, which is before any of it goes (a return
  // part-way, after a cancel, included).
  std::atomic<uint64_t> nextPos{0};
  CReaderWorkers workers(static_cast<size_t>(n));
  const bool parallel = readers.size() > 1 && workers.Start(readers, [&](CZipFile& reader) {
    reader.SetCancelFlag(cancel);
    reader.SetDataObserver([&](uint64_t size) { workers.CountBytes(size); });
    for (uint64_t pos; (pos = nextPos.fetch_add(1)) < n;) {
      Tested t = TestPosition(reader, run.entryOf[static_cast<size_t>(pos)], cancel);
      workers.Finish(static_cast<size_t>(pos),
                     [&] { tested[static_cast<size_t>(pos)] = std::move(t); });
    }
  });
  if (!parallel) archive.SetDataObserver([&bytes = run.bytes](uint64_t size) { bytes.Add(size); });

  for (uint64_t pos = 0; pos < n; ++pos) {
    Tested& t = tested[static_cast<size_t>(pos)];
    if (parallel)
      workers.WaitFor(static_cast<size_t>(pos), run.bytes);
    else
      t = TestPosition(archive, run.entryOf[static_cast<size_t>(pos)], cancel);
    if ((cancel && cancel->load()) || t.cancelled) return false;
    ReportPosition(run, pos, t);
    run.bytes.Flush();
    if (run.sink) run.sink->OnProgress(pos + 1, n);
  }
  if (!parallel) archive.SetDataObserver(nullptr);
  return true;
}

// Entries sharing bytes of the file: a well-formed archive has none, and
// they are how small archives unpack to enormous data. Checked after the
// data was read, so that each span ends where its data really ended.
void CheckOverlaps(CBackupArchive& archive, const std::vector<Tested>& tested, int64_t manifest,
                   VerifyResult& result) {
  const uint64_t n = archive.paths.size();
  const int64_t count = archive.GetEntryCount();
  std::vector<Span> spans;
  std::vector<bool> seen(static_cast<size_t>(count), false);
  for (const Tested& t : tested) {
    if (t.span.entry < 0) continue;
    seen[static_cast<size_t>(t.span.entry)] = true;
    if (t.haveSpan) spans.push_back(t.span);
  }
  for (int64_t i = 0; i < count; ++i) {
    Span span{0, 0, i};
    if (!seen[static_cast<size_t>(i)] && archive.GetEntrySpan(i, span.begin, span.end))
      spans.push_back(span);
  }
  std::sort(spans.begin(), spans.end(),
            [](const Span& a, const Span& b) { return a.begin < b.begin; });
  for (size_t k = 1, reach = 0; k < spans.size(); ++k) {
    if (spans[k].begin < spans[reach].end) {
      const int64_t entry = spans[k].entry;
      const std::string name = archive.GetEntryName(entry);
      const int64_t pos = entry == manifest ? -1 : PositionOf(name);
      const bool listed = pos >= 0 && static_cast<uint64_t>(pos) < n;
      result.faults.push_back(
          {listed ? pos : -1, listed ? archive.paths[static_cast<size_t>(pos)] : name,
           "its data overlaps that of entry " + archive.GetEntryName(spans[reach].entry)});
    }
    if (spans[k].end > spans[reach].end) reach = k;
  }
}

}  // namespace

VerifyResult VerifyBackup(const std::string& path, const std::atomic<bool>* cancel,
                          IProgressSink* sink, unsigned jobs) {
  VerifyResult result;
  CBackupArchive archive;
  if (!archive.Open(path)) {
    result.error = archive.LastError();
    return result;
  }
  if (!archive.ReadManifest()) {
    result.status = VerifyResult::Status::kNoManifest;
    return result;
  }
  archive.SetCancelFlag(cancel);
  result.status = VerifyResult::Status::kChecked;
  const uint64_t n = archive.paths.size();
  result.files = n;

  if (!archive.IsDirectoryComplete())
    result.faults.push_back({-1, "", "the archive's directory is damaged"});
  // Reading the manifest tested its data (unless a bound stopped it, which is
  // a fault of its own).
  if (!archive.ManifestDamage().empty())
    result.faults.push_back({-1, kManifestName, archive.ManifestDamage()});
  const int64_t manifest = archive.FindEntry(kManifestName);
  const std::vector<int64_t> entryOf = MapPositions(archive, manifest, result);

  if (sink) sink->OnProgress(0, n);
  CByteMeter bytes(sink);
  uint64_t totalBytes = 0;
  for (int64_t entry : entryOf) totalBytes += entry < 0 ? 0 : archive.GetEntrySize(entry);
  bytes.Start(totalBytes);

  std::vector<Tested> tested(static_cast<size_t>(n));
  VerifyRun run{archive, entryOf, cancel, sink, bytes, result};
  if (!TestEntries(run, jobs, tested)) {
    result.status = VerifyResult::Status::kCancelled;
    return result;
  }
  CheckOverlaps(archive, tested, manifest, result);
  return result;
}

}  // namespace tessarook
