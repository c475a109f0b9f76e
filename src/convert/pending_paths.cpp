// Conversion paths that the engine does not have yet. Each refuses, so that
// the dispatcher moves on to the next path exactly as for a path that does
// not apply. A path leaves this file when its real implementation lands.
#include "convert/conversion.h"

namespace z3az {


}  // namespace z3az
