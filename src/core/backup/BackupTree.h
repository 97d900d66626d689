// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A Backup's files as a folder tree of their source paths, for browsing: each
// folder with the size of everything below it and the newest last-write time
// there, and which files are checked for restoring.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tessarook {

class CBackupTree {
 public:
  using NodeId = uint32_t;
  static constexpr NodeId kRoot = 0;
  static constexpr int64_t kFolder = -1;
  // More nodes than this are not made (a hostile list of files could name
  // millions of folders per file); the tree is then incomplete.
  static constexpr size_t kMaxNodes = size_t{16} << 20;

  enum class Check { kNone, kSome, kAll };

  // Builds the tree of the manifest `paths`. `sizes` and `times` (ns since
  // 1970) are per manifest position and may be shorter (0 then). Only the
  // paths holding `filter` are taken when it is not empty; letters A-Z match
  // either case. `checked` is per manifest position too, and is kept by the
  // caller: the tree counts what is checked below each folder from it.
  // A path is split at "/"; empty parts (a leading "/", "//") give no folder.
  // Siblings are ordered by name, byte-wise.
  void Build(const std::vector<std::string>& paths, const std::vector<uint64_t>& sizes,
             const std::vector<int64_t>& times, const std::vector<bool>& checked,
             std::string_view filter = {});
  // The same from the positions of `paths` in TreeOrder, made once for a
  // Backup, so that a change of filter sorts nothing again.
  void Build(const std::vector<std::string>& paths, const std::vector<size_t>& sorted,
             const std::vector<uint64_t>& sizes, const std::vector<int64_t>& times,
             const std::vector<bool>& checked, std::string_view filter = {});

  // Nodes, the root included (it has no name and is never shown).
  size_t NodeCount() const { return m_nodes.size(); }
  bool Complete() const { return m_complete; }
  // Files in the tree (every path taken, each a leaf).
  size_t FileCount() const { return Node(kRoot).files; }

  bool IsFolder(NodeId id) const { return Node(id).position == kFolder; }
  // A file's manifest position, kFolder for a folder.
  int64_t Position(NodeId id) const { return Node(id).position; }
  std::string_view Name(NodeId id) const;
  NodeId Parent(NodeId id) const { return Node(id).parent; }
  // A folder's size: the sum of its files'. Its time: the newest of theirs.
  uint64_t Size(NodeId id) const { return Node(id).size; }
  int64_t Time(NodeId id) const { return Node(id).time; }
  // The files below a folder (1 for a file).
  size_t Files(NodeId id) const { return Node(id).files; }
  // The node's parts from the root joined by "/" ("/home/ann"; a file's is its
  // manifest path with any empty parts left out).
  std::string Path(NodeId id) const;

  // The children in order; none for a file.
  std::vector<NodeId> Children(NodeId id) const;
  // The manifest positions of every file at or below the node, in tree order.
  std::vector<size_t> PositionsBelow(NodeId id) const;

  // Whether none, some or all of the files at or below the node are checked.
  Check CheckState(NodeId id) const;
  // Checks or unchecks every file at or below the node, in `checked` (the
  // vector given to Build) and in the tree's counts.
  void SetChecked(NodeId id, bool check, std::vector<bool>& checked);

  // The node of a file's manifest position, or kRoot when the tree does not hold it.
  NodeId NodeOf(size_t position) const;

 private:
  // Nodes are kept in depth-first order: a node's subtree is the range
  // [id, end), its first child (if any) at id + 1.
  struct TreeNode {
    NodeId parent = 0;
    NodeId end = 1;
    uint32_t nameOffset = 0;
    uint32_t nameLength = 0;
    int64_t position = kFolder;
    uint64_t size = 0;
    int64_t time = 0;
    uint32_t files = 0;
    uint32_t checkedFiles = 0;
  };
  const TreeNode& Node(NodeId id) const { return m_nodes[id]; }
  NodeId AddNode(NodeId parent, std::string_view name, int64_t position);

  std::vector<TreeNode> m_nodes = std::vector<TreeNode>(1);
  std::string m_names;
  std::vector<NodeId> m_nodeOfPosition;  // kRoot where the position is not in the tree
  bool m_complete = true;
};

// Every position of `paths` in the order the tree shows them: by path, with
// "/" before every other byte; equal paths in manifest order.
std::vector<size_t> TreeOrder(const std::vector<std::string>& paths);

// Puts positions (such as a TreeOrder) in byte-wise order of their paths,
// equal paths by position: quick when little or nothing moves.
void ToByteOrder(const std::vector<std::string>& paths, std::vector<size_t>& order);

// True when `text` holds `part`, letters A-Z matching either case.
bool ContainsFolded(std::string_view text, std::string_view part);

}  // namespace tessarook
