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

// Reads a file as zlib's gz reader does (gzip members one after another,
// anything after them ignored, a file that is no gzip stream as it stands),
// but through inflate itself: gzread drops what it inflated in the call in
// which the data fail their check, and so would lose the last rows of a file
// whose trailer alone is wrong. Owns the descriptor.
class TgzReader {
 public:
  // Why read gave fewer bytes than asked for; more while it has not.
  enum class Tend { more, end, cut, damaged, readError };

  explicit TgzReader(int fd) : Ffd(fd) {}
  ~TgzReader() {
    if (FzReady) inflateEnd(&Fz);
    close(Ffd);
  }
  TgzReader(const TgzReader&) = delete;
  TgzReader& operator=(const TgzReader&) = delete;

  // Up to len bytes into buf: all of them unless the stream ends or fails.
  size_t read(char* buf, size_t len) {
    size_t got = 0;
    while (got < len && Fend == Tend::more) {
      if (Fmode == Tmode::look) {
        nextMember();
      } else if (Fmode == Tmode::copy) {
        if (Fz.avail_in == 0 && !fill()) {
          if (Fend == Tend::more) Fend = Tend::end;
          break;
        }
        const size_t n = std::min<size_t>(Fz.avail_in, len - got);
        std::memcpy(buf + got, Fz.next_in, n);
        Fz.next_in += n;
        Fz.avail_in -= static_cast<uInt>(n);
        got += n;
      } else {
        got += inflateInto(buf + got, len - got);
      }
    }
    return got;
  }
  int getc() {
    char c = 0;
    return read(&c, 1) == 1 ? static_cast<unsigned char>(c) : -1;
  }
  Tend state() const { return Fend; }
  int readErrno() const { return Ferrno; }

 private:
  enum class Tmode { look, gzip, copy };

  // Appends what the file gives to the unread input; false at its end or on
  // a read error, which ends the reading.
  bool fill() {
    if (Fin.empty()) Fin.resize(GZ_BUFFER_SIZE);
    if (Fz.avail_in > 0 && Fz.next_in != Fin.data()) std::memmove(Fin.data(), Fz.next_in, Fz.avail_in);
    Fz.next_in = Fin.data();
    ssize_t n;
    do n = ::read(Ffd, Fin.data() + Fz.avail_in, Fin.size() - Fz.avail_in);
    while (n < 0 && errno == EINTR);
    if (n > 0) {
      Fz.avail_in += static_cast<uInt>(n);
      return true;
    }
    if (n < 0) {
      Ferrno = errno;
      Fend = Tend::readError;
    }
    return false;
  }

  // At the start and after each member: another member, the end, or a plain file.
  void nextMember() {
    while (Fz.avail_in < 2 && fill()) {
    }
    if (Fend != Tend::more) return;
    if (Fz.avail_in >= 2 && Fz.next_in[0] == 0x1f && Fz.next_in[1] == 0x8b) {
      int ret = Z_OK;
      if (FzReady) {
        ret = inflateReset(&Fz);
      } else {
        Bytef* const next = Fz.next_in;  // inflateInit2 may touch the input fields
        const uInt avail = Fz.avail_in;
        ret = inflateInit2(&Fz, 15 + 16);
        FzReady = ret == Z_OK;
        Fz.next_in = next;
        Fz.avail_in = avail;
      }
      if (ret == Z_MEM_ERROR) throw std::bad_alloc();
      Fmode = Tmode::gzip;
      FsawMember = true;
      if (ret != Z_OK) Fend = Tend::damaged;
    } else if (FsawMember || Fz.avail_in == 0) {
      Fend = Tend::end;  // what follows a gzip member is not read, as gzread does
    } else {
      Fmode = Tmode::copy;
    }
  }

  // Inflates into buf; the bytes given also when the data fail their check.
  size_t inflateInto(char* buf, size_t len) {
    Fz.next_out = reinterpret_cast<Bytef*>(buf);
    Fz.avail_out = static_cast<uInt>(std::min<size_t>(len, UINT_MAX));
    const uInt room = Fz.avail_out;
    const int ret = inflate(&Fz, Z_NO_FLUSH);
    if (ret == Z_STREAM_END)
      Fmode = Tmode::look;
    else if (ret == Z_MEM_ERROR)
      throw std::bad_alloc();
    else if (ret != Z_OK && ret != Z_BUF_ERROR)
      Fend = Tend::damaged;
    else if (Fz.avail_out > 0 && !fill() && Fend == Tend::more)
      Fend = Tend::cut;  // inflate stops short of the room only when the input ran out
    return room - Fz.avail_out;
  }

  int Ffd;
  std::vector<Bytef> Fin;
  z_stream Fz{};
  bool FzReady = false;
  bool FsawMember = false;
  Tmode Fmode = Tmode::look;
  Tend Fend = Tend::more;
  int Ferrno = 0;
};

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
  // Closed on every way out, also when memory runs out.
  TgzReader file(fd);

  // Head: 8 bytes not compared with the magic, then up to 12 digits and '\n'.
  char magic[MAGIC_SIZE];
  const size_t got = file.read(magic, MAGIC_SIZE);
  bool ok = got == MAGIC_SIZE;
  uint64_t declared = 0;  // the body's length by the head; twelve digits cannot overflow
  for (int i = 0; ok && i < MAX_LENGTH_DIGITS; ++i) {
    const int c = file.getc();
    if (c == '\n') break;
    ok = c >= '0' && c <= '9';
    if (ok) declared = declared * 10 + static_cast<uint64_t>(c - '0');
  }
  if (!ok) {
    switch (file.state()) {
      case TgzReader::Tend::readError:
        return wouldWait(file.readErrno()) ? fault(TfileFault::notRegular, 0)
                                           : fault(TfileFault::system, file.readErrno());
      case TgzReader::Tend::damaged: return fault(TfileFault::damaged, 0);
      case TgzReader::Tend::cut: return fault(TfileFault::cutOff, 0);
      default: return fault(got == 0 ? TfileFault::empty : TfileFault::badHead, 0);
    }
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
  while (!stop) {
    const size_t n = file.read(chunk.data(), READ_CHUNK);
    if (n == 0) break;  // end of stream, or a broken one read as far as it goes
    bodyBytes += n;
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
  // Shorter than the head says, a gzip stream that breaks off, or a last line
  // without its '\n': the rows before it stay, the line cut off is dropped,
  // and the caller learns that the file was incomplete. Data that fail their
  // check keep every row they gave, as those may be wrong: damaged.
  const TgzReader::Tend how = file.state();
  const bool cutLine = overlong || !line.empty();
  if (!stop && how == TgzReader::Tend::damaged)
    fault(TfileFault::damaged, 0);
  else if (!stop && (how != TgzReader::Tend::end || cutLine || bodyBytes < declared))
    fault(TfileFault::cutOff, 0);
  Fparents.clear();
  if (!stop && how == TgzReader::Tend::readError && wouldWait(file.readErrno())) {
    roots->clear();  // what came before is no file's rows
    return fault(TfileFault::notRegular, 0);
  }

  if (count != 0) {
    rows->reserve(static_cast<size_t>(count));  // at least the rows in the tree
    for (const TrowPtr& root : *roots) treeRow2Linear(root, -1, rows, 0);
  }
  return count > INT_MAX ? INT_MAX : static_cast<int>(count);
}
