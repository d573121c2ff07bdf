// ShowError, FatalError and FatalCode for the fuzz targets: messages are
// dropped, fatal ends throw FatalEnd (see fuzz_fatal.h).
#include "base/error.h"
#include "tests/fuzz/fuzz_fatal.h"

namespace mr4 {

void ShowError(const char*, ...) {}
void FatalError(const char*, ...) { throw fuzz::FatalEnd{kFatalAfterMessage}; }
void FatalCode(int code) { throw fuzz::FatalEnd{code}; }

}  // namespace mr4
