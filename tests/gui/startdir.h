// Start-up tests run the program's own start-up in a working directory of
// their choosing: a fresh folder holding what the build's run directory
// holds (default.vkd, scripts/init.lua, the help page), or less of it.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>
#include <wx/toplevel.h>
#include <zlib.h>

#include <filesystem>
#include <string>

#include "guitest.h"
#include "vkglobs.h"

namespace startdir {

namespace fs = std::filesystem;

class TstartDir {
 public:
  TstartDir(bool withDefault, bool withScripts, const std::string& name = "qx-start") {
    old = fs::current_path();
    path = fs::temp_directory_path() / (name + "-" + std::to_string(::getpid()) + "-" + std::to_string(++serial()));
    fs::remove_all(path);
    fs::create_directories(path);
    const fs::path run = QX_RUN_DIR;
    if (withDefault) fs::copy_file(run / "default.vkd", path / "default.vkd");
    if (withScripts) {
      fs::create_directories(path / "scripts");
      fs::copy_file(run / "scripts" / "init.lua", path / "scripts" / "init.lua");
    }
    fs::current_path(path);
  }
  ~TstartDir() {
    std::error_code ec;
    fs::current_path(old, ec);
    fs::remove_all(path, ec);
  }

  fs::path path;

 private:
  static int& serial() {
    static int n = 0;
    return n;
  }
  fs::path old;
};

// The text inside a gzip file ("" when it cannot be read).
inline std::string gunzip(const std::string& path) {
  std::string out;
  gzFile f = gzopen(path.c_str(), "rb");
  if (!f) return out;
  char buf[65536];
  int n;
  while ((n = gzread(f, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  gzclose(f);
  return out;
}

// Each start begins with the settings a fresh process has.
inline void freshSettings() {
  _G.showSOFs = false;
  _G.showNAKs = false;
  _G.showPackets = true;
}

// Closes every top-level window and waits until the toolkit has destroyed them.
inline void closeAll() {
  for (wxWindow* w : wxTopLevelWindows) w->Close(true);
  EXPECT_TRUE(guitest::pumpUntil([] { return wxTopLevelWindows.empty(); }, 5000));
}

}  // namespace startdir
