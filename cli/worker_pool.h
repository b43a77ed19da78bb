// Work items run in worker processes, results delivered in item order.
//
// The library keeps its objects in per-process tables behind one lock, so
// threads of one process would take turns inside it; processes do not. The
// workers are forked from the tool (it starts no threads), each taking the
// next item as it becomes free, so that a slow file does not hold up the
// others; results come back over a socket and are delivered in item order as
// soon as every earlier item is done. A worker that dies (a crash, a signal)
// costs only its item, which is delivered as failed, and is replaced.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace tavrix::cli {

struct WorkResult {
  bool failed = false;
  std::string output;  // what the item gives
  std::string error;   // why it failed
};

struct WorkerPool {
  int jobs = 1;
  // Runs in a worker: the result of one item. It must not throw.
  std::function<WorkResult(size_t item)> work;
  // Runs in the tool, in item order.
  std::function<void(size_t item, const WorkResult& result)> deliver;
  // Runs in the tool whenever an item completes (in any order): items done.
  std::function<void(size_t done)> progress;

  // Runs the items given (indices into the caller's list) in `jobs` workers.
  void run(const std::vector<size_t>& items) const;
};

}  // namespace tavrix::cli
