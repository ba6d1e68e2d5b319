// The floor under a change of a preference file: what a save does with the file's bytes
// when nothing is parsed or laid out. Reads FILE, writes its bytes to a new temporary
// file beside TARGET, flushes it, renames it over TARGET and flushes the folder, as the
// tool's save does. bench/time_cli.py times it beside the tool and cp.
//
//   save_floor FILE TARGET
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

bool WriteAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    const ssize_t done = write(fd, p, n);
    if (done < 0) return false;
    p += done;
    n -= static_cast<size_t>(done);
  }
  return true;
}

bool Save(const char* from, const std::string& target) {
  const int in = open(from, O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (in < 0 || fstat(in, &st) != 0) return false;
  std::vector<char> bytes(static_cast<size_t>(st.st_size));
  size_t got = 0;
  for (ssize_t n; got < bytes.size() && (n = read(in, bytes.data() + got, bytes.size() - got)) > 0;) {
    got += static_cast<size_t>(n);
  }
  close(in);
  const size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash);
  const std::string temporary = target + ".floor";
  const int out = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (out < 0) return false;
  const bool ok = WriteAll(out, bytes.data(), got) && fsync(out) == 0;
  close(out);
  if (!ok || rename(temporary.c_str(), target.c_str()) != 0) return false;
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return false;
  const bool synced = fsync(dir) == 0;
  close(dir);
  return synced;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: save_floor FILE TARGET\n");
    return 2;
  }
  if (!Save(argv[1], argv[2])) {
    std::perror("save_floor");
    return 1;
  }
  return 0;
}
