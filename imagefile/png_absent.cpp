// A build without libpng: the built-in reader still reads netpbm files,
// and says plainly why a PNG file and PNG output are refused rather than
// calling them damaged.
#include <memory>
#include <string>

#include "imagefile/builtin_reader.hpp"
#include "imagefile/internal.hpp"
#include "varnel.h"

namespace varnel::imagefile {

std::unique_ptr<ImageRows> open_png_rows(FILE * /*file*/, std::string &error) {
  error = "this build of the library reads no PNG files (it was built without libpng)";
  return nullptr;
}

PngFailure encode_png(const MacBinPixels & /*pixels*/, const MacBinPNGOptions & /*options*/, MacBinPNGSink /*sink*/,
                      void * /*context*/, std::string &reason) noexcept {
  try {
    reason = "this build of the library writes no PNG files (it was built without libpng)";
  } catch (...) {
    reason.clear();
  }
  return PngFailure::kNoLibrary;
}

}  // namespace varnel::imagefile
