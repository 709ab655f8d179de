// The runtime's last error, per thread. Apart from the rest of the process services so that code
// without the toolkit (the INI files) can set it.
#include <string>

#include "ui/runtime.h"

namespace ui {
namespace {

struct LastError {
  int code = 0;
  std::string text, fileCode, fileText;
};
thread_local LastError tError;

}  // namespace

int errorCode() { return tError.code; }
std::string errorText() { return tError.text; }
std::string fileErrorCode() { return tError.fileCode; }
std::string fileError() { return tError.fileText; }

void setError(int code, std::string_view text, std::string_view fileCode, std::string_view fileText) {
  tError.code = code;
  tError.text = text;
  tError.fileCode = fileCode;
  tError.fileText = fileText;
}

}  // namespace ui
