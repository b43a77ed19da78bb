#include "worker_pool.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <stdexcept>

namespace tavrix::cli {

namespace {

// One message: the item's number, the failure flag, then the output and the
// error, each as a length and its bytes.
void putU64(std::string& s, uint64_t v) { s.append(reinterpret_cast<const char*>(&v), sizeof v); }

bool getU64(const std::string& s, size_t& at, uint64_t& v) {
  if (s.size() - at < sizeof v) return false;
  std::memcpy(&v, s.data() + at, sizeof v);
  at += sizeof v;
  return true;
}

std::string encode(uint64_t item, const WorkResult& r) {
  std::string m;
  putU64(m, item);
  putU64(m, r.failed ? 1 : 0);
  putU64(m, r.output.size());
  m += r.output;
  putU64(m, r.error.size());
  m += r.error;
  return m;
}

// A whole message at the start of buffer: removed from it into item and r.
bool decode(std::string& buffer, uint64_t& item, WorkResult& r) {
  size_t at = 0;
  uint64_t failed = 0, n = 0;
  if (!getU64(buffer, at, item) || !getU64(buffer, at, failed) || !getU64(buffer, at, n)) return false;
  if (buffer.size() - at < n) return false;
  r.output = buffer.substr(at, n);
  at += n;
  if (!getU64(buffer, at, n) || buffer.size() - at < n) return false;
  r.error = buffer.substr(at, n);
  at += n;
  r.failed = failed != 0;
  buffer.erase(0, at);
  return true;
}

bool sendAll(int fd, const char* data, size_t n) {
  while (n > 0) {
    const ssize_t sent = send(fd, data, n, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    data += sent;
    n -= static_cast<size_t>(sent);
  }
  return true;
}

bool receiveAll(int fd, char* data, size_t n) {
  while (n > 0) {
    const ssize_t got = recv(fd, data, n, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    data += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}

struct Worker {
  pid_t pid = -1;
  int fd = -1;
  bool busy = false;
  uint64_t item = 0;
  std::string buffer;
};

// The worker's loop: an item's number in, its result out, until the tool
// closes its end.
[[noreturn]] void serve(int fd, const std::function<WorkResult(size_t)>& work) {
  uint64_t item = 0;
  while (receiveAll(fd, reinterpret_cast<char*>(&item), sizeof item)) {
    const std::string message = encode(item, work(static_cast<size_t>(item)));
    if (!sendAll(fd, message.data(), message.size())) break;
  }
  // Leave without the tool's exit handlers and stdio buffers: they are the tool's.
  _exit(0);
}

Worker start(const std::vector<Worker>& others, const std::function<WorkResult(size_t)>& work) {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
    throw std::runtime_error(std::string("cannot start a worker process: ") + std::strerror(errno));
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    throw std::runtime_error(std::string("cannot start a worker process: ") + std::strerror(errno));
  }
  if (pid == 0) {
    close(fds[0]);
    for (const Worker& w : others) {
      if (w.fd >= 0) close(w.fd);
    }
    serve(fds[1], work);
  }
  close(fds[1]);
  Worker w;
  w.pid = pid;
  w.fd = fds[0];
  return w;
}

std::string endedHow(int status) {
  if (WIFSIGNALED(status)) {
    const int sig = WTERMSIG(status);
    return "the worker process analysing it was ended by signal " + std::to_string(sig) + " (" +
           strsignal(sig) + ")";
  }
  return "the worker process analysing it ended unexpectedly (exit status " +
         std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")";
}

}  // namespace

void WorkerPool::run(const std::vector<size_t>& items) const {
  if (items.empty()) return;
  const size_t count = std::min<size_t>(static_cast<size_t>(std::max(jobs, 1)), items.size());
  std::vector<Worker> workers;
  for (size_t k = 0; k < count; ++k) workers.push_back(start(workers, work));

  size_t nextToSend = 0, nextToDeliver = 0, done = 0;
  std::map<size_t, WorkResult> waiting;  // by position in items
  std::map<uint64_t, size_t> positionOf;
  for (size_t k = 0; k < items.size(); ++k) positionOf[items[k]] = k;

  const auto dispatch = [&](Worker& w) {
    while (!w.busy && nextToSend < items.size()) {
      const uint64_t item = items[nextToSend++];
      w.item = item;
      w.busy = true;
      if (!sendAll(w.fd, reinterpret_cast<const char*>(&item), sizeof item)) return;  // seen as its end below
    }
  };
  const auto complete = [&](uint64_t item, WorkResult r) {
    waiting[positionOf.at(item)] = std::move(r);
    ++done;
    if (progress) progress(done);
    for (auto it = waiting.find(nextToDeliver); it != waiting.end(); it = waiting.find(nextToDeliver)) {
      deliver(items[nextToDeliver], it->second);
      waiting.erase(it);
      ++nextToDeliver;
    }
  };
  for (Worker& w : workers) dispatch(w);

  while (done < items.size()) {
    std::vector<pollfd> polls;
    for (const Worker& w : workers) polls.push_back({w.fd, POLLIN, 0});
    if (poll(polls.data(), polls.size(), -1) < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error(std::string("waiting for the worker processes failed: ") +
                               std::strerror(errno));
    }
    for (size_t k = 0; k < workers.size(); ++k) {
      if (polls[k].revents == 0) continue;
      Worker& w = workers[k];
      char chunk[65536];
      const ssize_t got = recv(w.fd, chunk, sizeof chunk, 0);
      if (got < 0 && errno == EINTR) continue;
      if (got > 0) {
        w.buffer.append(chunk, static_cast<size_t>(got));
        uint64_t item = 0;
        WorkResult r;
        while (decode(w.buffer, item, r)) {
          w.busy = false;
          complete(item, std::move(r));
        }
        dispatch(w);
        continue;
      }
      // The worker ended: its item failed; a new worker takes the rest.
      close(w.fd);
      int status = 0;
      waitpid(w.pid, &status, 0);
      const bool wasBusy = w.busy;
      const uint64_t item = w.item;
      w = Worker{};
      if (wasBusy) complete(item, WorkResult{true, "", endedHow(status)});
      if (nextToSend < items.size()) {
        w = start(workers, work);
        dispatch(w);
      } else {
        w.fd = -1;
      }
    }
    // Workers with nothing left to do are let go.
    for (Worker& w : workers) {
      if (w.fd >= 0 && !w.busy && nextToSend >= items.size()) {
        close(w.fd);
        waitpid(w.pid, nullptr, 0);
        w = Worker{};
      }
    }
    std::erase_if(workers, [](const Worker& w) { return w.fd < 0; });
  }
  for (Worker& w : workers) {
    close(w.fd);
    waitpid(w.pid, nullptr, 0);
  }
}

}  // namespace tavrix::cli
