// SPDX-License-Identifier: GPL-3.0-or-later
#include "backup/BackupTree.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

namespace tessarook {

namespace {

char Fold(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// Where two texts first differ within their first `n` bytes (n when they do
// not): eight bytes at a time, since sorted paths share long beginnings.
size_t FirstDifference(const char* a, const char* b, size_t n) {
  size_t i = 0;
  if constexpr (std::endian::native == std::endian::little) {
    for (; i + 8 <= n; i += 8) {
      uint64_t x = 0;
      uint64_t y = 0;
      std::memcpy(&x, a + i, 8);
      std::memcpy(&y, b + i, 8);
      if (x != y) return i + size_t(std::countr_zero(x ^ y) / 8);
    }
  }
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

// Byte-wise, except that "/" sorts before every other byte: the files of a
// folder then come together, before a sibling such as "a b" or "a-b".
// Negative, zero or positive as `a` sorts before, with or after `b`.
int ComponentCompare(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  const size_t i = FirstDifference(a.data(), b.data(), n);
  if (i == n) return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
  const char ca = a[i];
  const char cb = b[i];
  if (ca == '/') return -1;
  if (cb == '/') return 1;
  return static_cast<unsigned char>(ca) < static_cast<unsigned char>(cb) ? -1 : 1;
}

// The non-empty parts of a path between its "/".
void SplitPath(std::string_view path, std::vector<std::string_view>& parts) {
  parts.clear();
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
}

}  // namespace

bool ContainsFolded(std::string_view text, std::string_view part) {
  if (part.empty()) return true;
  return std::search(text.begin(), text.end(), part.begin(), part.end(),
                     [](char a, char b) { return Fold(a) == Fold(b); }) != text.end();
}

CBackupTree::NodeId CBackupTree::AddNode(NodeId parent, std::string_view name, int64_t position) {
  if (m_nodes.size() >= kMaxNodes ||
      m_names.size() + name.size() > std::numeric_limits<uint32_t>::max()) {
    m_complete = false;
    return kRoot;
  }
  TreeNode node;
  node.parent = parent;
  node.end = NodeId(m_nodes.size() + 1);
  node.nameOffset = uint32_t(m_names.size());
  node.nameLength = uint32_t(name.size());
  node.position = position;
  m_names.append(name);
  m_nodes.push_back(node);
  return NodeId(m_nodes.size() - 1);
}

std::vector<size_t> TreeOrder(const std::vector<std::string>& paths) {
  std::vector<size_t> order(paths.size());
  for (size_t position = 0; position < order.size(); ++position) order[position] = position;
  // Equal paths stay in manifest order.
  std::sort(order.begin(), order.end(), [&paths](size_t a, size_t b) {
    const int c = ComponentCompare(paths[a], paths[b]);
    return c < 0 || (c == 0 && a < b);
  });
  return order;
}

void ToByteOrder(const std::vector<std::string>& paths, std::vector<size_t>& order) {
  // The two orders differ only where a path has a sibling that differs first
  // at a byte below "/" (" ", "-", "."): often none, and the list is already
  // in order when each pair of neighbours is.
  auto less = [&paths](size_t a, size_t b) {
    const int c = paths[a].compare(paths[b]);
    return c < 0 || (c == 0 && a < b);
  };
  if (!std::is_sorted(order.begin(), order.end(), less))
    std::sort(order.begin(), order.end(), less);
}

void CBackupTree::Build(const std::vector<std::string>& paths, const std::vector<uint64_t>& sizes,
                        const std::vector<int64_t>& times, const std::vector<bool>& checked,
                        std::string_view filter) {
  Build(paths, TreeOrder(paths), sizes, times, checked, filter);
}

void CBackupTree::Build(const std::vector<std::string>& paths, const std::vector<size_t>& sorted,
                        const std::vector<uint64_t>& sizes, const std::vector<int64_t>& times,
                        const std::vector<bool>& checked, std::string_view filter) {
  m_nodes.clear();
  m_names.clear();
  m_complete = true;
  m_nodeOfPosition.assign(paths.size(), kRoot);
  m_nodes.reserve(paths.size() + 1);
  m_nodes.emplace_back();  // the root

  std::vector<size_t> order;
  order.reserve(sorted.size());
  for (size_t position : sorted)
    if (position < paths.size() && ContainsFolded(paths[position], filter))
      order.push_back(position);

  // The folders open along the latest path, outermost first.
  std::vector<NodeId> open;
  auto close_to = [this, &open](size_t depth) {
    while (open.size() > depth) {
      m_nodes[open.back()].end = NodeId(m_nodes.size());
      open.pop_back();
    }
  };
  std::vector<std::string_view> parts;
  for (size_t position : order) {
    const std::string& path = paths[position];
    SplitPath(path, parts);
    // A path without any name (such as "/") is shown as it is.
    if (parts.empty()) parts.push_back(path);
    const size_t folders = parts.size() - 1;
    size_t depth = 0;
    while (depth < open.size() && depth < folders && Name(open[depth]) == parts[depth]) ++depth;
    close_to(depth);
    for (; depth < folders; ++depth) {
      const NodeId folder = AddNode(open.empty() ? kRoot : open.back(), parts[depth], kFolder);
      if (folder == kRoot) break;
      open.push_back(folder);
    }
    if (!m_complete) break;
    const NodeId file =
        AddNode(open.empty() ? kRoot : open.back(), parts.back(), static_cast<int64_t>(position));
    if (file == kRoot) break;
    m_nodeOfPosition[position] = file;
    TreeNode& node = m_nodes[file];
    node.size = position < sizes.size() ? sizes[position] : 0;
    node.time = position < times.size() ? times[position] : 0;
    node.files = 1;
    node.checkedFiles = position < checked.size() && checked[position] ? 1 : 0;
  }
  close_to(0);
  m_nodes[kRoot].end = NodeId(m_nodes.size());

  // Children follow their parents: one pass from the end sums every folder.
  for (size_t id = m_nodes.size() - 1; id > 0; --id) {
    const TreeNode& node = m_nodes[id];
    TreeNode& parent = m_nodes[node.parent];
    parent.size += node.size;
    parent.time = std::max(parent.time, node.time);
    parent.files += node.files;
    parent.checkedFiles += node.checkedFiles;
  }
}

std::string_view CBackupTree::Name(NodeId id) const {
  const TreeNode& node = Node(id);
  return std::string_view(m_names).substr(node.nameOffset, node.nameLength);
}

std::string CBackupTree::Path(NodeId id) const {
  std::vector<NodeId> chain;
  for (NodeId at = id; at != kRoot; at = Parent(at)) chain.push_back(at);
  std::string path;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    path += '/';
    path.append(Name(*it));
  }
  return path.empty() ? "/" : path;
}

std::vector<CBackupTree::NodeId> CBackupTree::Children(NodeId id) const {
  std::vector<NodeId> children;
  if (id >= m_nodes.size()) return children;
  for (NodeId child = id + 1; child < Node(id).end; child = Node(child).end)
    children.push_back(child);
  return children;
}

std::vector<size_t> CBackupTree::PositionsBelow(NodeId id) const {
  std::vector<size_t> positions;
  if (id >= m_nodes.size()) return positions;
  for (NodeId at = id; at < Node(id).end; ++at)
    if (!IsFolder(at)) positions.push_back(size_t(Position(at)));
  return positions;
}

CBackupTree::Check CBackupTree::CheckState(NodeId id) const {
  const TreeNode& node = Node(id);
  if (node.checkedFiles == 0) return Check::kNone;
  return node.checkedFiles == node.files ? Check::kAll : Check::kSome;
}

void CBackupTree::SetChecked(NodeId id, bool check, std::vector<bool>& checked) {
  if (id >= m_nodes.size()) return;
  const uint32_t before = Node(id).checkedFiles;
  for (NodeId at = id; at < Node(id).end; ++at) {
    TreeNode& node = m_nodes[at];
    node.checkedFiles = check ? node.files : 0;
    if (node.position != kFolder && size_t(node.position) < checked.size())
      checked[size_t(node.position)] = check;
  }
  const int64_t change = int64_t(Node(id).checkedFiles) - int64_t(before);
  for (NodeId at = id; at != kRoot;) {
    at = Parent(at);
    m_nodes[at].checkedFiles = uint32_t(int64_t(m_nodes[at].checkedFiles) + change);
  }
}

CBackupTree::NodeId CBackupTree::NodeOf(size_t position) const {
  return position < m_nodeOfPosition.size() ? m_nodeOfPosition[position] : kRoot;
}

}  // namespace tessarook
