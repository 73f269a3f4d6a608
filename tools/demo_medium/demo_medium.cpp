#include "tools/demo_medium/demo_medium.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace varmex::tools {

const char* const kMediumArchives[10] = {
    "varmex38.rar", "quovar.rar", "rasvent.rar",  "erp.rar",     "bentak.rar",
    "varmdat.rar",  "bfur.rar",   "tutorial.rar", "filegen.rar", "erpdat.rar"};

namespace {

RarEntry Text(const std::string& name, const std::string& text) {
  return FileEntry(name, text + "\n");
}

RarEntry Folder(const std::string& name) { return FolderEntry(name); }

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw std::runtime_error("cannot read " + path);
  }
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

std::map<std::string, std::vector<RarEntry>> MediumContents(const MediumOptions& options) {
  std::map<std::string, std::vector<RarEntry>> m;
  // Programs are placeholders; folders inside "e" archives show that they are dropped.
  m["varmex38.rar"] = {Text("bin/devprog.exe", "Varmex 38 estimating program (placeholder)"),
                       Text("Varmex38.txt", "Varmex 38: read me")};
  m["quovar.rar"] = {Text("quovar.exe", "Quovar (placeholder)")};
  m["rasvent.rar"] = {Text("rasvent.exe", "Rasvent (placeholder)")};
  m["erp.rar"] = {Text("menuerp.exe", "ERP menu program (placeholder)"),
                  Text("Palunor.ico", "icon (placeholder)")};
  if (!options.mklnkPath.empty()) {
    RarEntry tool;
    tool.name = "mklnk";
    tool.data = ReadWholeFile(options.mklnkPath);
    tool.mode = 0755;
    m["erp.rar"].push_back(std::move(tool));
  }
  m["bentak.rar"] = {Text("bentak.exe", "Bentak (placeholder)")};
  m["varmdat.rar"] = {Text("date/varmdat.txt", "Varmex 38 starting data (placeholder)")};
  m["bfur.rar"] = {Text("bfur.txt", "supplier bank (placeholder)")};
  m["tutorial.rar"] = {Folder("tutorial"), Text("tutorial/lectia1.txt", "Lectia 1"),
                       Text("tutorial/imagini/schita1.txt", "Schita 1")};
  m["filegen.rar"] = {Text("plcont.dat", "FileGen data (placeholder)")};
  m["erpdat.rar"] = {Text("anga.dat", "ERP data (placeholder)")};
  for (const auto& [archive, entries] : options.extra) {
    m[archive].insert(m[archive].end(), entries.begin(), entries.end());
  }
  for (const std::string& name : options.omit) {
    m.erase(name);
  }
  return m;
}

void WriteMedium(const std::string& dir, const MediumOptions& options) {
  for (const auto& [name, entries] : MediumContents(options)) {
    std::vector<uint8_t> bytes = BuildRarArchive(entries);
    if (options.damaged.count(name) != 0) {
      int64_t at = -1;
      for (size_t i = 0; at < 0 && i < entries.size(); ++i) {
        at = DataOffsetOfEntry(bytes, i);
      }
      if (at < 0) {
        throw std::runtime_error("nothing to damage in " + name);
      }
      bytes[static_cast<size_t>(at)] ^= 0x5a;
    }
    std::string path = dir;
    path += "/";
    path += name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      throw std::runtime_error("cannot write " + path);
    }
  }
}

}  // namespace varmex::tools
