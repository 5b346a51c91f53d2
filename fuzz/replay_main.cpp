// Replays fuzz inputs through a fuzz target without libFuzzer, so that the
// seed corpus and every input that once found a bug run as ordinary tests.
// Each argument is a file or a folder of files; each file is handed to the
// target in a buffer of exactly its size, so that a sanitizer build catches a
// read past its end.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool ReadFile(const std::string& path, std::vector<uint8_t>* out) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  uint8_t chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) out->insert(out->end(), chunk, chunk + n);
  std::fclose(f);
  return true;
}

int Replay(const std::string& path, int* count) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    std::fprintf(stderr, "replay: no such file: %s\n", path.c_str());
    return 1;
  }
  if (S_ISDIR(st.st_mode)) {
    DIR* dir = opendir(path.c_str());
    if (!dir) return 1;
    int rc = 0;
    while (dirent* e = readdir(dir)) {
      const std::string name = e->d_name;
      if (name == "." || name == ".." || name[0] == '.') continue;
      rc |= Replay(path + "/" + name, count);
    }
    closedir(dir);
    return rc;
  }
  std::vector<uint8_t> bytes;
  if (!ReadFile(path, &bytes)) {
    std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
    return 1;
  }
  // Exactly the input's size, not a byte more.
  uint8_t* exact = new uint8_t[bytes.size()];
  for (size_t i = 0; i < bytes.size(); ++i) exact[i] = bytes[i];
  LLVMFuzzerTestOneInput(exact, bytes.size());
  delete[] exact;
  ++*count;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int count = 0;
  int rc = 0;
  for (int i = 1; i < argc; ++i) rc |= Replay(argv[i], &count);
  std::printf("replayed %d inputs\n", count);
  if (count == 0) {
    std::fprintf(stderr, "replay: no input at all\n");
    return 1;
  }
  return rc;
}
