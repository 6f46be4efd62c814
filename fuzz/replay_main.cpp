// Replays inputs through one fuzz target without libFuzzer, so the committed
// corpus and the regression files run as ordinary tests in every build.
//
// Usage: TARGET_replay PATH...; each PATH is a file or a folder whose files
// are replayed, in name order, folders below it included. Names starting
// with "." and the outcome tables (*.tsv) are not inputs. A broken rule
// aborts inside the target, as under libFuzzer. Exit status 1 when a path
// cannot be read or no input was found at all.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fs = std::filesystem;

namespace {

bool isInput(const fs::path& path) {
  const std::string name = path.filename().string();
  return !name.empty() && name[0] != '.' && path.extension() != ".tsv";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: " << argv[0] << " FILE_OR_FOLDER...\n";
    return 2;
  }
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const fs::path given = argv[i];
    std::error_code ec;
    if (fs::is_directory(given, ec)) {
      for (fs::recursive_directory_iterator it(given, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_regular_file() && isInput(it->path())) inputs.push_back(it->path());
      }
    } else if (fs::is_regular_file(given, ec)) {
      inputs.push_back(given);
    } else {
      ec = std::make_error_code(std::errc::no_such_file_or_directory);
    }
    if (ec) {
      std::cerr << argv[0] << ": " << given.string() << ": " << ec.message() << '\n';
      return 1;
    }
  }
  std::sort(inputs.begin(), inputs.end());
  if (inputs.empty()) {
    std::cerr << argv[0] << ": no inputs found\n";
    return 1;
  }
  for (const fs::path& input : inputs) {
    std::ifstream in(input, std::ios::binary);
    const std::string bytes(std::istreambuf_iterator<char>(in), {});
    if (!in.good() && !in.eof()) {
      std::cerr << argv[0] << ": " << input.string() << ": cannot be read\n";
      return 1;
    }
    // Named before it runs, so an abort shows which input broke a rule.
    std::cout << input.string() << '\n' << std::flush;
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::cout << "replayed " << inputs.size() << " inputs\n";
  return 0;
}
