// mklnk: the stand-in shortcut maker of the POSIX build.
//
//   mklnk -lNAME -fTARGET -wWORKDIR -iICON
//
// Each value is glued to its option. Writes the shortcut NAME into WORKDIR as a small
// text file naming the target, the working directory and the icon. Exit status 0 when
// the shortcut was written, 1 for a bad command line, 2 when the file cannot be written.
#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  std::string name, target, workdir, icon;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.size() < 2 || a[0] != '-') {
      std::fprintf(stderr, "mklnk: unexpected argument %s\n", a.c_str());
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
        std::fprintf(stderr, "mklnk: unknown option %s\n", a.c_str());
        return 1;
    }
  }
  if (name.empty() || target.empty() || name.find('/') != std::string::npos) {
    std::fprintf(stderr, "usage: mklnk -lNAME -fTARGET [-wWORKDIR] [-iICON]\n");
    return 1;
  }
  std::string path = workdir.empty() ? name : workdir + (workdir.back() == '/' ? "" : "/") + name;
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) {
    std::perror(("mklnk: " + path).c_str());
    return 2;
  }
  std::fprintf(f, "[shortcut]\ntarget=%s\nworkdir=%s\nicon=%s\n", target.c_str(), workdir.c_str(),
               icon.c_str());
  if (std::fclose(f) != 0) {
    std::perror(("mklnk: " + path).c_str());
    return 2;
  }
  return 0;
}
