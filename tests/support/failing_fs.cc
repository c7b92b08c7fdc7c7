// A filesystem of one read-only file whose bytes from a chosen offset on
// fail to read with EIO, as a failing disk's do: the tests' stand-in for a
// bad disk. Every read that touches the bad region fails whole (a short
// count would read as the end of the file).
//
//   failing_fs MOUNTPOINT BACKING BAD_FROM [BAD_TO]
//
// serves BACKING's bytes as MOUNTPOINT/take.wav, with bytes BAD_FROM to
// BAD_TO - 1 (to its end when BAD_TO is left out) unreadable. Runs in the
// foreground until SIGTERM, then unmounts.
#define FUSE_USE_VERSION 31
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char kName[] = "/take.wav";
int backing = -1;
std::uint64_t badFrom = 0;
std::uint64_t badTo = UINT64_MAX;

int GetAttr(const char* path, struct stat* st, fuse_file_info*) {
  std::memset(st, 0, sizeof *st);
  if (std::strcmp(path, "/") == 0) {
    st->st_mode = S_IFDIR | 0755;
    st->st_nlink = 2;
    return 0;
  }
  if (std::strcmp(path, kName) != 0) return -ENOENT;
  struct stat real {};
  if (fstat(backing, &real) != 0) return -errno;
  st->st_mode = S_IFREG | 0444;
  st->st_nlink = 1;
  st->st_size = real.st_size;
  return 0;
}

int ReadDir(const char* path, void* buf, fuse_fill_dir_t fill, off_t, fuse_file_info*,
            fuse_readdir_flags) {
  if (std::strcmp(path, "/") != 0) return -ENOENT;
  fill(buf, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buf, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buf, kName + 1, nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  return 0;
}

int Open(const char* path, fuse_file_info* fi) {
  if (std::strcmp(path, kName) != 0) return -ENOENT;
  if ((fi->flags & O_ACCMODE) != O_RDONLY) return -EACCES;
  return 0;
}

int Read(const char*, char* buf, std::size_t size, off_t offset, fuse_file_info*) {
  const auto from = static_cast<std::uint64_t>(offset);
  if (from < badTo && from + size > badFrom) return -EIO;
  const ssize_t n = pread(backing, buf, size, offset);
  return n < 0 ? -errno : static_cast<int>(n);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  backing = open(argv[2], O_RDONLY);
  if (backing < 0) return 2;
  badFrom = std::strtoull(argv[3], nullptr, 10);
  if (argc > 4) badTo = std::strtoull(argv[4], nullptr, 10);
  fuse_operations ops{};
  ops.getattr = GetAttr;
  ops.readdir = ReadDir;
  ops.open = Open;
  ops.read = Read;
  // Foreground, one thread; the kernel may cache what did read, as it
  // would from a disk.
  char* args[] = {argv[0],
                  const_cast<char*>("-f"),
                  const_cast<char*>("-s"),
                  const_cast<char*>("-o"),
                  const_cast<char*>("ro,default_permissions"),
                  argv[1]};
  return fuse_main(6, args, &ops, nullptr);
}
