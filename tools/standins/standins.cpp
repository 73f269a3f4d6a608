// The stand-ins for the suite's own programs (standins.h).
#include "tools/standins/standins.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "io/fixed_text.h"
#include "store/block_file_builder.h"

namespace varmex::tools {
namespace {

namespace fs = std::filesystem;

constexpr int kPartnerBlocks = 100;

// What a tool takes: flag options, options with a value, how many operands.
struct Grammar {
  std::string_view name;
  std::vector<std::string_view> flags;
  std::vector<std::string_view> valued;
  size_t operands;
  const char* usage;
};

const std::vector<Grammar>& Grammars() {
  static const std::vector<Grammar> grammars = {
      {"convfurn", {}, {}, 2, "usage: convfurn ERPDIR VARMEXDIR\n"},
      {"cuvterti", {}, {}, 1, "usage: cuvterti ERPDIR\n"},
      {"lsort", {}, {}, 2, "usage: lsort IN OUT\n"},
      {"fo2", {"-o"}, {"-s", "-n", "-d"}, 0, "usage: fo2 [-o] [-s SIZE] [-n NAME] [-d DIR]\n"},
      {"mkhvoc",
       {"-s", "-d", "-h"},
       {},
       4,
       "usage: mkhvoc [-s] [-d] [-h] DIR N SORTED VOCABULARY\n"},
  };
  return grammars;
}

bool Has(const std::vector<std::string_view>& list, std::string_view word) {
  return std::find(list.begin(), list.end(), word) != list.end();
}

void Log(std::string_view name, const std::vector<std::string>& args) {
  const char* log = std::getenv("VARMEX_STANDIN_LOG");
  if (log == nullptr || *log == '\0') return;
  std::ofstream out(log, std::ios::app | std::ios::binary);
  out << name;
  for (const std::string& a : args) out << ' ' << a;
  out << '\n';
}

// The file `name` in `dir`, matched without regard to case as the suite names files.
fs::path FileIn(const fs::path& dir, const std::string& name) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    if (io::Lowercase(entry.path().filename().string()) == name) return entry.path();
  }
  return dir / name;
}

bool WriteBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

int WritePartnerFile(const std::string& erpDir, std::ostream& err) {
  const fs::path path = FileIn(erpDir, "terti.dat");
  if (!WriteBytes(path, store::EmptyBlockFileImage(kPartnerBlocks))) {
    err << "convfurn: cannot write " << path.string() << "\n";
    return 2;
  }
  return 0;
}

}  // namespace

int RunMklnk(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  static constexpr const char* kUsage = "usage: mklnk -lNAME -fTARGET [-wWORKDIR] [-iICON]\n";
  std::string name, target, workdir, icon;
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      out << kUsage;
      return 0;
    }
    if (a.size() < 2 || a[0] != '-') {
      err << "mklnk: unexpected argument " << a << "\n" << kUsage;
      return 1;
    }
    const std::string value = a.substr(2);
    switch (a[1]) {
      case 'l':
        name = value;
        break;
      case 'f':
        target = value;
        break;
      case 'w':
        workdir = value;
        break;
      case 'i':
        icon = value;
        break;
      default:
        err << "mklnk: unknown option " << a << "\n" << kUsage;
        return 2;
    }
  }
  if (name.empty() || target.empty() || name[0] == '-' ||
      name.find_first_of("/\\") != std::string::npos) {
    err << kUsage;
    return 1;
  }
  const fs::path path = workdir.empty() ? fs::path(name) : fs::path(workdir) / name;
  const std::string text =
      "[shortcut]\ntarget=" + target + "\nworkdir=" + workdir + "\nicon=" + icon + "\n";
  if (!WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end()))) {
    err << "mklnk: cannot write " << path.string() << "\n";
    return 2;
  }
  return 0;
}

int RunSuiteTool(std::string_view name, const std::vector<std::string>& args, std::ostream& out,
                 std::ostream& err) {
  const auto grammar = std::find_if(Grammars().begin(), Grammars().end(),
                                    [&](const Grammar& g) { return g.name == name; });
  if (grammar == Grammars().end()) return 2;
  const Grammar& g = *grammar;
  const bool hIsHelp = !Has(g.flags, "-h") || args.size() == 1;
  for (const std::string& a : args) {
    if (a == "--help" || (a == "-h" && hIsHelp)) {
      out << g.usage;
      return 0;
    }
  }
  Log(name, args);
  std::vector<std::string> operands;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.empty() || a[0] != '-') {
      operands.push_back(a);
    } else if (Has(g.valued, a) && i + 1 < args.size()) {
      ++i;
    } else if (!Has(g.flags, a)) {
      err << name << ": unknown option " << a << "\n" << g.usage;
      return 2;
    }
  }
  if (operands.size() != g.operands) {
    err << g.usage;
    return 1;
  }
  return name == "convfurn" ? WritePartnerFile(operands[0], err) : 0;
}

}  // namespace varmex::tools
