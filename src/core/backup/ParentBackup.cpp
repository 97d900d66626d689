// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/ParentBackup.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <numeric>
#include <string_view>

#include "backup/ZipReader.h"
#include "scheme/SchemePaths.h"
#include "util/OpenBeneath.h"

namespace tessarook {

namespace {

// True while another writer holds the name of the Backup at `path`: its
// lock file is there only while it is held (a killed writer's goes with the
// next sweep of partial files, which every Backup makes before it starts).
bool NameLockHeld(const std::string& path) {
  const std::string folder = FolderOf(path);
  const std::string lock = JoinPath(folder, "." + path.substr(path.rfind('/') + 1) + ".lock");
  struct stat st {};
  return lstat(lock.c_str(), &st) == 0;
}

}  // namespace

bool CParentBackup::Open(const std::string& path, std::string& why) {
  m_archive.Close();
  m_byPath.clear();
  m_path.clear();
  if (!m_archive.Open(path)) {
    why = m_archive.LastError();
    return false;
  }
  const CZipReader& reader = *m_archive.Reader();
  if (!reader.Taken() || reader.Taken()->machine != ThisMachine()) {
    why = reader.Taken() ? "it was taken on another machine"
                         : "it does not record when it was taken (written by another program)";
    m_archive.Close();
    return false;
  }
  if (!m_archive.ReadManifest() || !m_archive.Damage().empty()) {
    why = m_archive.Damage().empty() ? "it has no list of files" : m_archive.Damage();
    m_archive.Close();
    return false;
  }
  // Position i must be the entry at index i named i, with the manifest last.
  const std::vector<ZipEntryInfo>& entries = reader.Entries();
  const size_t n = m_archive.paths.size();
  bool ordered = entries.size() == n + 1 && entries[n].name == kManifestName;
  for (size_t i = 0; ordered && i < n; ++i) ordered = entries[i].name == EntryNameOf(i);
  if (!ordered) {
    why = "its entries are not in the order this program writes them";
    m_archive.Close();
    return false;
  }
  m_byPath.resize(n);
  std::iota(m_byPath.begin(), m_byPath.end(), 0u);
  const std::vector<std::string>& paths = m_archive.paths;
  std::stable_sort(m_byPath.begin(), m_byPath.end(),
                   [&](uint32_t a, uint32_t b) { return paths[a] < paths[b]; });
  m_path = path;
  return true;
}

bool CParentBackup::Choose(const std::string& folder, const std::string& ownPath,
                           std::string* why) {
  struct Candidate {
    int64_t taken;
    std::string name;
  };
  std::vector<Candidate> candidates;
  if (DIR* dir = opendir(folder.c_str())) {
    const std::string_view ext = kBackupExtension;
    while (const dirent* e = readdir(dir)) {
      const std::string_view file = e->d_name;
      if (file.size() <= ext.size() || file.substr(file.size() - ext.size()) != ext) continue;
      TakenRecord taken;
      if (ReadBackupTaken(JoinPath(folder, std::string(file)), taken) &&
          taken.machine == ThisMachine())
        candidates.push_back({taken.takenNs, std::string(file)});
    }
    closedir(dir);
  }
  std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
    return a.taken != b.taken ? a.taken > b.taken : a.name > b.name;
  });
  std::string first;
  for (const Candidate& c : candidates) {
    const std::string path = JoinPath(folder, c.name);
    std::string reason;
    if (path != ownPath && NameLockHeld(path))
      reason = "another program is writing or changing it";
    else if (Open(path, reason))
      return true;
    if (first.empty()) first = path + ": " + reason;
  }
  if (why) *why = candidates.empty() ? "no earlier Backup of this Scheme records its files" : first;
  return false;
}

bool CParentBackup::Find(const std::string& sourcePath, const SourceIdentity& now,
                         ZipCopiedEntry& out) const {
  const CZipReader* reader = m_archive.Reader();
  if (!reader) return false;
  const std::vector<std::string>& paths = m_archive.paths;
  auto at = std::lower_bound(m_byPath.begin(), m_byPath.end(), sourcePath,
                             [&](uint32_t i, const std::string& p) { return paths[i] < p; });
  for (; at != m_byPath.end() && paths[*at] == sourcePath; ++at) {
    const ZipEntryInfo& e = reader->Entries()[*at];
    if (!e.source || *e.source != now) continue;
    std::string error;
    return reader->StoredEntry(*at, out, error);
  }
  return false;
}

}  // namespace tessarook
