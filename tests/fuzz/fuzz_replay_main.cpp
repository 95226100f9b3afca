// Runs a fuzz entry point without libFuzzer: feeds it the files named on the
// command line, then a fixed-seed stream of random and mutated inputs. This
// keeps every fuzz entry compiled and exercised (under the sanitizers in CI)
// on compilers that have no libFuzzer. Z2_FUZZ_MUTATIONS sets the length of
// the stream (4000); 0 runs the files alone.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static void run(const std::string& s) {
  // A private copy so the entry sees exactly size bytes, as libFuzzer gives them.
  std::vector<uint8_t> buf(s.begin(), s.end());
  LLVMFuzzerTestOneInput(buf.data(), buf.size());
}

int main(int argc, char** argv) {
  std::vector<std::string> corpus;
  for (int i = 1; i < argc; i++) {
    std::ifstream f(argv[i], std::ios::binary);
    corpus.emplace_back(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }
  if (corpus.empty()) corpus.push_back("");
  std::mt19937 rng(12345);
  static const char alphabet[] = "{}[]<>\"'=/\\:,.-+0123456789eEtrufalsn &;#x!\n\t\r\x80\xff\x00";
  int runs = 0;
  int mutations = 4000;
  if (const char* m = std::getenv("Z2_FUZZ_MUTATIONS")) mutations = std::atoi(m);
  for (auto& c : corpus) { run(c); runs++; }
  for (int i = 0; i < mutations; i++) {
    std::string s = corpus[rng() % corpus.size()];
    int edits = 1 + rng() % 8;
    for (int e = 0; e < edits; e++) {
      size_t at = s.empty() ? 0 : rng() % (s.size() + 1);
      switch (rng() % 4) {
        case 0: s.insert(at, 1, alphabet[rng() % (sizeof(alphabet) - 1)]); break;
        case 1: if (at < s.size()) s.erase(at, 1 + rng() % 4); break;
        case 2: if (at < s.size()) s[at] = char(rng()); break;
        case 3: s.insert(at, s.substr(0, rng() % (s.size() + 1))); break;
      }
      if (s.size() > 65536) s.resize(65536);
    }
    run(s);
    runs++;
  }
  std::printf("fuzz replay: %d inputs, no fault\n", runs);
  return 0;
}
