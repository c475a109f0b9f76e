// The public conversion entry: one job per call.
#include "z3az/convert.h"

#include "convert/conversion.h"

namespace z3az {

HRESULT ConvertPixels(BlitRegion& destination, BlitRegion& source, uint32_t filter) {
    ConversionJob job;
    return job.ConvertRegion(destination, source, filter);
}

}  // namespace z3az
