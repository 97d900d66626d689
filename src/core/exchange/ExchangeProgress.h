// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

namespace tessarook {

// Where the .csm writer and reader report their progress. Every call comes on the
// thread that runs the job (a worker thread in the desktop program, which forwards
// them to the window thread). The defaults do nothing.
class CExchangeProgress {
 public:
  virtual ~CExchangeProgress() = default;
  virtual void Show() {}
  virtual void Hide() {}
  // The bar runs from 0 to `upper`.
  virtual void SetRange(uint32_t upper) { (void)upper; }
  virtual void SetPos(uint32_t pos) { (void)pos; }
  // One step of one.
  virtual void Step() {}
  // `done` of `total` bytes of data moved, after each file.
  virtual void SetBytes(uint64_t done, uint64_t total) {
    (void)done;
    (void)total;
  }
};

}  // namespace tessarook
