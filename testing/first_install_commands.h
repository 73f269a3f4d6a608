// The command lines a first installation from a whole medium onto drive D runs, in
// order: every archive tested, then unpacked into its folder, then the shortcut made.
// Shared by the installer's in-process test and the end-to-end test of the built
// program, which must agree on them.
#pragma once

#include <string>
#include <vector>

namespace varmex::doubles {

inline std::vector<std::string> FirstInstallCommandsOnD() {
  return {"unrar t varmex38.rar",
          "unrar t quovar.rar",
          "unrar t rasvent.rar",
          "unrar t erp.rar",
          "unrar t bentak.rar",
          "unrar t varmdat.rar",
          "unrar t bfur.rar",
          "unrar t tutorial.rar",
          "unrar t filegen.rar",
          "unrar t erpdat.rar",
          "unrar e -y varmex38.rar D:\\kedro\\Varmex",
          "unrar e -y varmdat.rar D:\\kedro\\Varmex",
          "unrar e -y bfur.rar D:\\kedro\\Varmex",
          "unrar x -y tutorial.rar D:\\kedro\\Varmex",
          "unrar e -y erp.rar D:\\kedro\\ERP",
          "unrar e -y erpdat.rar D:\\kedro\\ERP",
          "unrar e -y rasvent.rar D:\\kedro\\Rasvent",
          "unrar e -y filegen.rar D:\\kedro\\Rasvent\\FileGen",
          "unrar e -y quovar.rar D:\\kedro\\Quovar",
          "unrar e -y bentak.rar D:\\kedro\\Bentak",
          "D:\\kedro\\ERP\\mklnk.exe -lVarmex38.lnk -fD:\\kedro\\ERP\\menuerp.exe "
          "-wD:\\kedro\\ERP\\ -iD:\\kedro\\ERP\\Palunor.ico"};
}

}  // namespace varmex::doubles
