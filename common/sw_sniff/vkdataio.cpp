#include "vkdataio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "vkrawevt.h"
#include "vkrawgrp.h"
#include "vkrowutils.h"

namespace {

const char MAGIC_LINE[] = "VKFMT01\n";
constexpr int MAGIC_SIZE = 8;
constexpr int MAX_LENGTH_DIGITS = 12;
constexpr uint64_t MAX_LOAD_COUNT = 4294967194ull;
// Decoded trees are three levels deep; the cap keeps the recursive
// flattening and row destruction of a hostile file within the stack.
constexpr int MAX_LOAD_LEVEL = 256;
constexpr unsigned GZ_BUFFER_SIZE = 128 * 1024;
constexpr unsigned READ_CHUNK = 64 * 1024;
constexpr unsigned WRITE_CHUNK = 1u << 20;
constexpr size_t LINE_RESERVE = 1024;
// No real row comes near this: a data packet of a full capture memory writes
// under 400 KiB. Longer lines are skipped unread, so one cannot fill the memory.
constexpr size_t MAX_LINE = size_t(1) << 20;
// As the kernel's own limit on links followed in one path.
constexpr int MAX_LINK_HOPS = 40;
// Dense bulk traffic takes about 44 raw bytes a packet, SOF-only frames 11.
constexpr size_t RAW_BYTES_PER_ROW = 32;

constexpr uint8_t ROW_FLAGS_SOF = LR_SOF | LR_PACKET;

bool writeAll(gzFile file, const char* p, size_t n) {
  bool ok = true;
  while (ok && n > 0) {
    const unsigned part = n > WRITE_CHUNK ? WRITE_CHUNK : static_cast<unsigned>(n);
    ok = gzwrite(file, p, part) == static_cast<int>(part);
    p += part;
    n -= part;
  }
  return ok;
}

// A name beside the target, so that the final rename stays in one file system;
// the target's name is shortened as needed to keep the temporary's within NAME_MAX.
int openTempBeside(const std::string& path, std::string& tempPath) {
  static std::atomic<unsigned> serial{0};
  const size_t slash = path.rfind('/');
  const size_t baseStart = slash == std::string::npos ? 0 : slash + 1;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string suffix = ".tmp" + std::to_string(getpid()) + "_" + std::to_string(serial++);
    const size_t baseLen = std::min(path.size() - baseStart, size_t(NAME_MAX) - suffix.size());
    tempPath = path.substr(0, baseStart + baseLen) + suffix;
    const int fd = open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Writes the whole gzip stream to fd (which it does not close) and syncs it.
bool writeGzip(int fd, const std::string& head, const std::string& body) {
  const int gzfd = dup(fd);
  if (gzfd < 0) return false;
  gzFile file = gzdopen(gzfd, "wb");
  if (!file) {
    close(gzfd);
    return false;
  }
  bool ok = gzbuffer(file, GZ_BUFFER_SIZE) == 0;
  ok = ok && writeAll(file, head.data(), head.size());
  ok = ok && writeAll(file, body.data(), body.size());
  ok = (gzclose(file) == Z_OK) && ok;
  return ok && fsync(fd) == 0;
}

// Only what passes for a regular file but is none (/proc/kmsg) makes a
// non-blocking read wait.
bool wouldWait(int err) { return err == EAGAIN || err == EWOULDBLOCK; }

int clampCount(uint64_t count) { return count > INT_MAX ? INT_MAX : static_cast<int>(count); }

// The path a save to a name without a file behind it writes to: the name itself,
// or, for a link that names no file yet, the path it names (as a plain open
// would follow it). False for a loop of links or an unreadable one.
bool danglingTarget(const std::string& path, std::string& target) {
  target = path;
  for (int hop = 0; hop < MAX_LINK_HOPS; ++hop) {
    struct stat st {};
    if (lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    char buf[PATH_MAX];
    const ssize_t n = readlink(target.c_str(), buf, sizeof buf);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof buf) return false;
    std::string next(buf, static_cast<size_t>(n));
    // A relative link is taken from the link's own folder.
    const size_t slash = target.rfind('/');
    if (next[0] != '/' && slash != std::string::npos) next = target.substr(0, slash + 1) + next;
    target = next;
  }
  return false;
}

}  // namespace

TdataIO::TdataIO() = default;
TdataIO::~TdataIO() = default;

void TdataIO::rawDataToEventVec(const std::vector<uint8_t>& raw, TrowVecPtr events, TprogressFn progress) {
  if (!events) return;
  events->clear();
  if (raw.empty()) return;
  events->reserve(raw.size() / RAW_BYTES_PER_ROW);
  Tevents decoder(raw);
  uint64_t position = 0;
  while (decoder.getNextEvent(*events, position)) {
    if (progress) progress(position);
  }
}

void TdataIO::eventVecToTreeRootVec(TrowVecPtr events, TrowVecPtr roots) {
  if (!events || !roots) return;
  roots->clear();
  TrawTree tree(*events, *roots);
}

void TdataIO::treeRootVecToLinVec(TrowVecPtr roots, TlinVecPtr rows) {
  if (!roots || !rows) return;
  rows->clear();
  for (const TrowPtr& root : *roots) treeRow2Linear(root, -1, rows, 0);
}

void TdataIO::treeRow2Linear(const TrowPtr& row, int parent, const TlinVecPtr& rows, uint8_t flags) {
  if (!row) return;
  const int h = static_cast<int>(rows->size());
  row->handle = h;
  row->parent = parent;
  // The counter that numbers the row; the flags go to the row and its children.
  uint32_t* counter = visitRow(*row,
                               Toverload{[this](const Treset&) { return &resetCount; },
                                         [this, &flags](const Tsof&) {
                                           flags |= ROW_FLAGS_SOF;
                                           return &packetCount;
                                         },
                                         [this, &flags](const TpacketBase&) {
                                           flags |= LR_PACKET;
                                           return &packetCount;
                                         },
                                         [this, &flags](const TsofGroup&) {
                                           flags |= ROW_FLAGS_SOF;
                                           return &sofGroupCount;
                                         },
                                         [this](const Ttransax&) { return &transactionCount; },
                                         [this](const Ttransfer&) { return &transferCount; }},
                               static_cast<uint32_t*>(nullptr));
  if (!counter) return;
  rows->emplace_back(row, flags);
  row->number = ++*counter;
  if (auto grouper = std::dynamic_pointer_cast<Tgrouper>(row)) {
    for (const TrowPtr& child : grouper->children) treeRow2Linear(child, h, rows, flags);
  }
}

int TdataIO::fault(TfileFault kind, int err) {
  Ffault = kind;
  FfaultErrno = err;
  return 0;
}

bool TdataIO::regularFile(const struct stat& st) {
  if (S_ISREG(st.st_mode)) return true;
  fault(TfileFault::notRegular, S_ISDIR(st.st_mode) ? EISDIR : 0);
  return false;
}

int TdataIO::saveLinearToFile(TlinVecPtr rows, std::string path) {
  fault(TfileFault::none, 0);
  if (path.empty()) return fault(TfileFault::system, ENOENT);  // as open("") says
  if (!rows) return 0;
  try {
    return writeFile(*rows, path);
  } catch (const std::bad_alloc&) {
    // All that allocates comes before the temporary is made: nothing is left behind.
    return fault(TfileFault::noMemory, ENOMEM);
  }
}

int TdataIO::writeFile(const TlinVec& rows, const std::string& path) {
  std::string body;
  uint64_t count = 0;
  for (const TlinRow& entry : rows) {
    if (!entry.row) continue;
    const std::string line = rowutils::toString(entry.row);
    if (line.empty()) continue;
    body += line;
    ++count;
  }
  const std::string head = std::string(MAGIC_LINE) + std::to_string(body.size()) + "\n";

  // Only a regular file is replaced: a device or FIFO is never opened, nor
  // put aside for a file. An existing file that may not be written stays too.
  struct stat old {};
  const bool exists = stat(path.c_str(), &old) == 0;
  const int statErr = errno;
  if (exists && !regularFile(old)) return 0;
  if (exists && access(path.c_str(), W_OK) != 0) return fault(TfileFault::system, errno);
  // A link is followed, so that the file it names is replaced, not the link.
  std::string target = path;
  if (exists) {
    if (char* real = realpath(path.c_str(), nullptr)) {
      target = real;
      std::free(real);
    }
  } else if (!danglingTarget(path, target)) {
    return fault(TfileFault::system, statErr);
  }

  // Write beside the target and rename, so a failed save never replaces a good file.
  std::string tempPath;
  const int fd = openTempBeside(target, tempPath);
  if (fd < 0) {
    // Rewriting the file in place instead would leave it cut off when the
    // write fails, so a folder closed for writing refuses the save.
    const int err = errno;
    return fault(exists && (err == EACCES || err == EPERM) ? TfileFault::folderLocked : TfileFault::system, err);
  }
  if (exists) fchmod(fd, old.st_mode & 07777);
  bool ok = writeGzip(fd, head, body);
  int err = errno;
  ok = (close(fd) == 0) && ok;
  if (ok && std::rename(tempPath.c_str(), target.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    unlink(tempPath.c_str());
    return fault(TfileFault::system, err);
  }
  return clampCount(count);
}

bool TdataIO::addToParent(TrowPtr row) {
  const auto level = static_cast<unsigned>(row->level);
  if (level >= Fparents.size()) return false;
  Fparents[level]->push_back(std::move(row));
  return true;
}

void TdataIO::setParentList(TrowVec* list, int level) {
  const auto ix = static_cast<size_t>(static_cast<unsigned>(level));
  if (ix < Fparents.size())
    Fparents[ix] = list;
  else
    Fparents.push_back(list);
}

int TdataIO::loadLinearFile(std::string path, TrowVecPtr roots, TlinVecPtr rows) {
  fault(TfileFault::none, 0);
  if (!roots || !rows || path.empty()) return 0;
  // Only a regular file is read, as only one is saved: a device is never
  // opened, and as the name may change before the open, the open does not
  // wait (a FIFO would) and what it opened is looked at again.
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return fault(TfileFault::system, errno);
  if (!regularFile(st)) return 0;
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return fault(TfileFault::system, errno);
  const bool statted = fstat(fd, &st) == 0;
  const int statErr = errno;
  if (!statted || !regularFile(st)) {
    close(fd);
    return statted ? 0 : fault(TfileFault::system, statErr);
  }
  // The descriptor stays non-blocking: a regular file ignores it, and what
  // only passes for one (/proc/kmsg) is refused instead of waited on.
  errno = 0;
  // Closed on every way out, also when memory runs out.
  std::unique_ptr<gzFile_s, int (*)(gzFile)> owner(gzdopen(fd, "rb"), gzclose);
  if (!owner) {
    const int err = errno;
    close(fd);
    return fault(TfileFault::system, err);
  }
  gzFile file = owner.get();
  gzbuffer(file, GZ_BUFFER_SIZE);

  // Head: 8 bytes not compared with the magic, then up to 12 digits and '\n'.
  char magic[MAGIC_SIZE];
  const int got = gzread(file, magic, MAGIC_SIZE);
  bool ok = got == MAGIC_SIZE;
  uint64_t declared = 0;  // the body's length by the head; twelve digits cannot overflow
  for (int i = 0; ok && i < MAX_LENGTH_DIGITS; ++i) {
    const int c = gzgetc(file);
    if (c == '\n') break;
    ok = c >= '0' && c <= '9';
    if (ok) declared = declared * 10 + static_cast<uint64_t>(c - '0');
  }
  if (!ok) {
    const int err = errno;
    int zerr = Z_OK;
    gzerror(file, &zerr);
    if (zerr == Z_ERRNO) return wouldWait(err) ? fault(TfileFault::notRegular, 0) : fault(TfileFault::system, err);
    if (zerr != Z_OK) return fault(TfileFault::cutOff, 0);
    return fault(got == 0 ? TfileFault::empty : TfileFault::badHead, 0);
  }

  roots->clear();
  rows->clear();
  Fparents.clear();
  Fparents.push_back(roots.get());
  uint64_t count = 0;
  bool stop = false;

  auto takeLine = [&](std::string& line) {
    if (count > MAX_LOAD_COUNT) {
      stop = true;
      return;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) return;
    TrowPtr row = rowutils::fromString(line);
    if (!row) return;
    ++count;
    const unsigned kind = static_cast<unsigned>(row->kind);
    if (kind <= RK_HANDSHAKE) {
      addToParent(std::move(row));
    } else if (kind <= RK_TRANSFER) {
      // Only an attached group may own a parent list; a dropped one would
      // leave the stack pointing into a freed row.
      auto group = std::dynamic_pointer_cast<Tgrouper>(row);
      const int level = row->level;
      if (addToParent(row) && group && level < MAX_LOAD_LEVEL) setParentList(&group->children, level + 1);
    }
  };

  std::vector<char> chunk(READ_CHUNK);
  std::string line;
  line.reserve(LINE_RESERVE);
  bool overlong = false;  // the current line passed MAX_LINE: dropped up to its '\n'
  uint64_t bodyBytes = 0;
  int readErr = 0;
  while (!stop) {
    const int n = gzread(file, chunk.data(), READ_CHUNK);
    readErr = n < 0 ? errno : 0;
    if (n <= 0) break;  // end of stream, or a damaged one read as far as it goes
    bodyBytes += static_cast<uint64_t>(n);
    const char* p = chunk.data();
    const char* end = p + n;
    while (p < end && !stop) {
      const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
      const char* stopAt = nl ? nl : end;
      overlong = overlong || line.size() + static_cast<size_t>(stopAt - p) > MAX_LINE;
      if (overlong)
        line.clear();
      else
        line.append(p, stopAt);
      if (!nl) break;
      if (!overlong) takeLine(line);
      overlong = false;
      line.clear();
      p = nl + 1;
    }
  }
  // Shorter than the head says, gzip's own error at a break, or a last line
  // without its '\n': the rows before it stay, the line cut off is dropped,
  // and the caller learns that the file was incomplete.
  int zerr = Z_OK;
  gzerror(file, &zerr);
  const bool cutLine = overlong || !line.empty();
  if (!stop && (zerr != Z_OK || cutLine || bodyBytes < declared)) fault(TfileFault::cutOff, 0);
  owner.reset();
  Fparents.clear();
  if (!stop && zerr == Z_ERRNO && wouldWait(readErr)) {
    roots->clear();  // what came before is no file's rows
    return fault(TfileFault::notRegular, 0);
  }

  if (count != 0) {
    rows->reserve(static_cast<size_t>(count));  // at least the rows in the tree
    for (const TrowPtr& root : *roots) treeRow2Linear(root, -1, rows, 0);
  }
  return count > INT_MAX ? INT_MAX : static_cast<int>(count);
}
